#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target from its seed corpus in fuzz/corpus/<target>,
# one target after another in one process each:
#   scripts/fuzz.sh                   every target for 20 seconds, h1eth_fuzzer for 5 (what
#                                     scripts/test.sh runs)
#   scripts/fuzz.sh --time 3600       every target for an hour
#   scripts/fuzz.sh --runs 10000000 transfer_fuzzer   ten million executions of one target
# New inputs collect in build/fuzz/corpus/<target>, so that longer runs build on earlier ones. A
# crash or a broken property ends the script with an error and leaves the input in build/fuzz/;
# each target's output is kept in build/fuzz/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time=20)
chosen_limit=0
# Targets that cover their ground in fewer seconds than the default brief run.
declare -A brief_seconds=([h1eth_fuzzer]=5)
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --time) limit=(-max_total_time="$2"); chosen_limit=1; shift 2 ;;
    --runs) limit=(-runs="$2"); chosen_limit=1; shift 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  targets=(address_fuzzer station_file_fuzzer transfer_fuzzer s5_float_fuzzer network_file_fuzzer
           h1tcp_fuzzer h1eth_fuzzer)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
artifacts="$PWD/build/fuzz/"
for target in "${targets[@]}"; do
  seeds="fuzz/corpus/${target%_fuzzer}"
  corpus="build/fuzz/corpus/${target%_fuzzer}"
  mkdir -p "$corpus"
  echo "=== ${target} ==="
  # -timeout: an input that takes 10 s is a hang, which is a finding too. The whole output stays in
  # build/fuzz/<target>.log.
  log="build/fuzz/${target}.log"
  status=0
  target_limit=("${limit[@]}")
  if [ "${chosen_limit}" -eq 0 ] && [ -n "${brief_seconds[${target}]:-}" ]; then
    target_limit=(-max_total_time="${brief_seconds[${target}]}")
  fi
  "build/fuzz/fuzz/${target}" "${target_limit[@]}" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="${artifacts}" "$PWD/${corpus}" "$PWD/${seeds}" >"${log}" 2>&1 || status=$?
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "${log}" || true
  if [ "${status}" -ne 0 ]; then
    grep -E -A12 'ERROR|fuzzer:' "${log}" | head -40 || tail -40 "${log}"
    exit "${status}"
  fi
done
