#!/usr/bin/env bash
# The Wine wrapper and the test run's server, as the tests use them:
#   - a program's standard error and exit status pass the wrapper unchanged,
#     while Wine's error channel goes to the run's log with the wrapper's
#     decisions (the tests compare standard error: a Wine line there would
#     fail them, and one kept nowhere would leave a failure unexplained);
#   - a second test run on the same build, starting and stopping while a
#     program of this one runs, leaves that program alone (ending the
#     server ended it too, with status 0 or 1 and no output).
# Usage: wine_harness_test.sh BUILD_DIR
set -uo pipefail
build=$1
scratch=$(mktemp -d)
trap 'exec 8>&-; rm -rf "$scratch"' EXIT
fail=0
expect() { # what, actual, expected
    if [ "$2" != "$3" ]; then
        printf '%s: got %q, expected %q\n' "$1" "$2" "$3"
        fail=1
    fi
}

# rundll32 writes lines to Wine's error channel when it cannot find the
# entry point; cmd's own line is the program's standard error.
KZ_WINE_LOG=$scratch/run.log "$build/wine_run" cmd.exe /c \
    'rundll32.exe kz_none.dll,kz_none&echo kept>&2&exit 3' </dev/null >/dev/null 2>"$scratch/err"
expect "status" "$?" 3
expect "standard error" "$(cat "$scratch/err")" $'kept\r'
if ! grep -q ':err:rundll32:' "$scratch/run.log"; then
    echo "no Wine error line in the log:"
    cat "$scratch/run.log"
    fail=1
fi
grep -q 'cmd.exe: used the running Wine server' "$scratch/run.log" || { echo "no decision in the log"; fail=1; }
grep -q 'cmd.exe: ended with status 3' "$scratch/run.log" || { echo "no exit status in the log"; fail=1; }

# The program waits for a line on a FIFO that the test writes once the
# other run has started and stopped.
mkfifo "$scratch/line"
"$build/wine_run" cmd.exe /c 'set /p line=&echo ran on' <"$scratch/line" >"$scratch/out" 2>&1 &
program=$!
exec 8>"$scratch/line"
sleep 2
bash -c '"$1" start && "$1" stop; exit' other_run "$build/wine_server" >"$scratch/other" 2>&1 \
    || { echo "the other run's start or stop failed:"; cat "$scratch/other"; fail=1; }
trap '' PIPE  # a program that was ended reads no more
echo go >&8 2>/dev/null
exec 8>&-
wait "$program"
expect "status of the program that ran meanwhile" "$?" 0
expect "its output" "$(cat "$scratch/out")" $'ran on\r'
exit "$fail"
