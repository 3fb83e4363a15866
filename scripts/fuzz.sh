#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target from its seed corpus in fuzz/corpus/<target>,
# in one process each, as many at once as the machine has processors:
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
           h1tcp_fuzzer h1eth_fuzzer gateway_client_fuzzer)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
artifacts="$PWD/build/fuzz/"
# One target's run; the fuzzer's exit status goes to build/fuzz/<target>.status.
fuzz_one() {
  local target=$1
  local seeds="fuzz/corpus/${target%_fuzzer}"
  local corpus="build/fuzz/corpus/${target%_fuzzer}"
  mkdir -p "$corpus"
  # -timeout: an input that takes 10 s is a hang, which is a finding too. The whole output stays in
  # build/fuzz/<target>.log.
  local target_limit=("${limit[@]}")
  if [ "${chosen_limit}" -eq 0 ] && [ -n "${brief_seconds[${target}]:-}" ]; then
    target_limit=(-max_total_time="${brief_seconds[${target}]}")
  fi
  local status=0
  "build/fuzz/fuzz/${target}" "${target_limit[@]}" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="${artifacts}" "$PWD/${corpus}" "$PWD/${seeds}" >"build/fuzz/${target}.log" \
    2>&1 || status=$?
  echo "${status}" >"build/fuzz/${target}.status"
}

# The targets side by side, a processor each; then each one's figures, and the first failure's
# findings.
running=0
for target in "${targets[@]}"; do
  if [ "${running}" -ge "$(nproc)" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  rm -f "build/fuzz/${target}.status"
  fuzz_one "${target}" &
  running=$((running + 1))
done
wait
failed=0
for target in "${targets[@]}"; do
  log="build/fuzz/${target}.log"
  status=$(cat "build/fuzz/${target}.status" 2>/dev/null || echo 1)
  echo "=== ${target} ==="
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "${log}" || true
  if [ "${status}" -ne 0 ]; then
    grep -E -A12 'ERROR|fuzzer:' "${log}" | head -40 || tail -40 "${log}"
    [ "${failed}" -ne 0 ] || failed=${status}
  fi
done
exit "${failed}"
