#!/bin/sh
# Runs the whole test suite of one preset and ends with "N passed, M failed".
# Exit status: 0 when tests ran and every one passed; a run in which no test
# ran (nothing built, a broken test discovery) fails as well.
set -u
preset="${1:-dev}"
log="build/${preset}/ctest-output.txt"
status="build/${preset}/ctest-status.txt"
mkdir -p "build/${preset}"
# sh has no pipefail: ctest's own status goes through a file.
{ ctest --preset "$preset" 2>&1; echo $? >"$status"; } | tee "$log"
rc=$(cat "$status")
rm -f "$status"
# ctest: "97% tests passed, 2 tests failed out of 70"
summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
if [ -z "$summary" ]; then
    if grep -q 'No tests were found' "$log"; then
        echo "0 passed, 0 failed (no tests were found)"
    else
        echo "0 passed, 1 failed (ctest did not run)"
    fi
    exit 1
fi
failed=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
total=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
echo "$((total - failed)) passed, ${failed} failed"
[ "$total" -gt 0 ] && [ "$failed" -eq 0 ] && [ "$rc" -eq 0 ]
