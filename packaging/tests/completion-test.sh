#!/usr/bin/env bash
# Checks the bash completion of irdload-cli: what it offers in each place, and that its lists of
# commands, options and fault kinds are the program's own (from --help), so that neither drifts.
# usage: completion-test.sh IRDLOAD_CLI COMPLETION_SCRIPT
set -uo pipefail
cli=$1
# shellcheck source=/dev/null
source "$2"

passed=0
failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
touch a.uuc b.u01 c.u02 notes.txt
mkdir sub

# The sorted completions for a command line whose last word is being completed.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _irdload_cli
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//'
}

check() {
  local label=$1 expected=$2
  shift 2
  local got
  got=$(complete_words irdload-cli "$@")
  if [ "$got" = "$expected" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $label: expected [$expected], got [$got]"
  fi
}

sorted() { tr ' ' '\n' | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//'; }
# The long options of a --help text's Options section.
help_options() { "$cli" "$@" --help | sed -n 's/^  \(-[a-z],\)\{0,1\}\(--[a-z-]*\).*/\2/p' | sorted; }

check "commands" "--help --version doctor fleet inspect make-sample ports send station virtual-ird" ""
check "command prefix" "send" se
check "upgrade files" "a.uuc b.u01 c.u02 sub" send ""
check "upgrade file after options" "a.uuc" send --simulate a
check "inspect files" "a.uuc b.u01 c.u02 sub" inspect ""
check "option prefix" "--port" send --po
check "port names" "COM1 COM2 COM3 COM4" send --port CO
check "fault kinds" "NackHeader NackPacket" send --simulate-fault Nack
check "sample types" "first second single" make-sample --type ""
check "number wanted" "" send --baud ""
check "doctor options" "--help --json" doctor --
check "doctor port" "COM1 COM2 COM3 COM4" doctor CO
check "sample path" "notes.txt" make-sample no
check "station files" "a.uuc b.u01 c.u02 sub" station --port /dev/ttyUSB0 ""
check "next unit" "prompt quiet: replug" station --next-unit ""
check "report folder" "sub" send --report su

# Against the program itself.
commands=$("$cli" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z-]*\) .*/\1/p' | sorted)
check "commands match --help" "--help --version $commands" ""
for command in send doctor make-sample station fleet virtual-ird; do
  check "$command options match --help" "$(help_options "$command")" "$command" --
done
faults=$("$cli" send --help | sed -n 's/.*Kind\[@at\[:value\]\] (\(.*\)).*/\1/p' | tr -d ',' | sorted)
check "fault kinds match --help" "$faults" send --simulate-fault ""

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
