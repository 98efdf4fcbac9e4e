#!/usr/bin/env bash
# Runs one row of the command-line case table (tests/data/tool/cases.tsv) and checks the outcome.
#   run_case.sh TABLE NAME TOOL SANITIZED key=dir ...
# The row's columns (tab-separated): name, exit, memory, regex, absent, stdin, arguments.
#   exit    ok (status 0, nothing on stderr), fail (status 1: a result printed, not converged),
#           error (status 2 and exactly one stderr line "fitmodels: ...")
#   memory  address-space limit in KB ("-": 2000000); a row with a limit of its own is skipped
#           under the sanitisers, whose shadow memory leaves no such limit usable
#   regex   extended regex the output (stdout then stderr) must match; "\t" is a tab
#   absent  extended regex the output must not match ("-": none)
#   stdin   file fed to standard input ("-": none; "tty": a terminal for stdout and stderr, whose
#           output is then all on stdout)
#   args    separated by single spaces; {key} is replaced by the dir given as key=dir, {seq:N} by
#           1,2,..,N, the word {args:N} by N arguments 1 .. N, and \n, \t, \xHH in an argument
#           stand for a newline, a tab and the byte HH
# Every run is bounded: 120 s of wall time and the memory limit.
set -uo pipefail
table=$1 name=$2 tool=$3 sanitized=$4
shift 4
declare -A dirs
for kv in "$@"; do dirs[${kv%%=*}]=${kv#*=}; done

row=$(awk -F'\t' -v n="$name" '$1 == n { print; exit }' "$table")
[ -n "$row" ] || { echo "no row $name in $table"; exit 1; }
IFS=$'\t' read -r _ want memory regex absent input args <<<"$row"

expand() {
  local s=$1 k
  for k in "${!dirs[@]}"; do s=${s//\{$k\}/${dirs[$k]}}; done
  while [[ $s =~ \{seq:([0-9]+)\} ]]; do s=${s/"${BASH_REMATCH[0]}"/$(seq -s, 1 "${BASH_REMATCH[1]}")}; done
  printf '%s' "$s"
}
argv=()
read -r -a words <<<"$args"
for w in "${words[@]}"; do
  if [[ $w =~ ^\{args:([0-9]+)\}$ ]]; then
    mapfile -t -O "${#argv[@]}" argv < <(seq 1 "${BASH_REMATCH[1]}")
  else
    argv+=("$(printf '%b' "$(expand "$w")")")
  fi
done
# stdin "tty": the run gets a terminal (script(1)) for its standard output and error.
tty=no
if [ "$input" = "tty" ]; then
  tty=yes input=/dev/null
  command=$(printf '%q ' "$tool" "${argv[@]}")
  tool=script argv=(-qec "$command" /dev/null)
fi
[ "$input" = "-" ] && input=/dev/null || input=$(expand "$input")

if [ "$memory" != "-" ] && [ "$sanitized" = "ON" ]; then
  echo "SKIPPED: the row's memory limit does not apply under the sanitisers"
  exit 77
fi
[ "$memory" = "-" ] && memory=2000000
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
if [ "$sanitized" = "ON" ]; then
  ASAN_OPTIONS=detect_leaks=0 timeout 120 "$tool" "${argv[@]}" <"$input" >"$out" 2>"$err"
else
  (ulimit -v "$memory"; exec timeout 120 "$tool" "${argv[@]}" <"$input" >"$out" 2>"$err")
fi
rc=$?
text="$(cat "$out")"$'\n'"$(cat "$err")"
head -c 4000 "$out"; head -c 4000 "$err"
fail() { echo "FAILED: $*"; exit 1; }
[ $rc -eq 124 ] && fail "no end within 120 s"
lines=$(grep -c '' "$err")
case $want in
  ok) [ $rc -eq 0 ] || fail "exit status $rc, expected 0"
      [ "$lines" -eq 0 ] || fail "$lines lines on stderr, expected none" ;;
  fail) [ $rc -eq 1 ] || fail "exit status $rc, expected 1 (a result, not converged)"
        [ -s "$out" ] || fail "no result on stdout" ;;
  error) [ $rc -eq 2 ] || fail "exit status $rc, expected 2"
         [ "$lines" -eq 1 ] || fail "$lines lines on stderr, expected one"
         grep -q '^fitmodels: ' "$err" || fail "stderr does not start with \"fitmodels: \"" ;;
  *) fail "unknown expected outcome \"$want\"" ;;
esac
regex=${regex//\\t/$'\t'}
[[ $text =~ $regex ]] || fail "output does not match: $regex"
if [ "$absent" != "-" ]; then
  absent=${absent//\\t/$'\t'}
  [[ $text =~ $absent ]] && fail "output matches what must be absent: $absent"
fi
exit 0
