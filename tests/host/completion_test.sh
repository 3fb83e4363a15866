#!/usr/bin/env bash
# The bash completion against the tavhost it completes: each row is a command line being typed
# (its last word the one under the cursor) and the words the completion must offer.
set -uo pipefail
tavhost_folder=$1
completion=$2
bash_completion=/usr/share/bash-completion/bash_completion
[[ -r "${bash_completion}" ]] || { echo "bash-completion is not installed (${bash_completion})"; exit 1; }
source "${bash_completion}"
source "${completion}"
PATH="${tavhost_folder}:${PATH}"

failures=0
expect() {
  local offered=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _tavhost tavhost "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
  if [[ "${COMPREPLY[*]}" != "${offered}" ]]; then
    echo "FAIL: [$*] offered [${COMPREPLY[*]}], expected [${offered}]"
    failures=$((failures + 1))
  fi
}

expect "info init demo read write check watch serial bridge gateway h1" tavhost ""
expect "read" tavhost r
expect "--help --driver --network --tcp-map --h1-interface --plc --slot --s5 --json --version --log" tavhost --
expect "probe" tavhost h1 ""
expect "lo" tavhost --h1-interface l
expect "--station-file" tavhost read --st
expect "--count" tavhost --json watch --co
expect "open config close" tavhost serial ""
expect "--parity" tavhost serial open --par
expect "none odd even mark space" tavhost serial open --parity ""
expect "handshake" tavhost serial open --dtr h
expect "hex decimal signed binary" tavhost read --format ""
expect "bit" tavhost read --type b
# Values of options are not taken for subcommands.
expect "--type --timeout" tavhost --log x.log read --station-file a.int --t
expect "--stop-bits" tavhost --driver lib.so serial config --port /dev/null --st

echo "${failures} failure(s)"
exit $((failures > 0))
