#!/bin/sh
# Runs the whole test suite of one preset and ends with "N passed, M failed".
# Exit status: 0 when every test passed.
set -u
preset="${1:-dev}"
log="build/${preset}/ctest-output.txt"
mkdir -p "build/${preset}"
ctest --preset "$preset" 2>&1 | tee "$log"
rc=$?
# ctest: "97% tests passed, 2 tests failed out of 70"
summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
if [ -z "$summary" ]; then
    if grep -q 'No tests were found' "$log"; then
        echo "0 passed, 0 failed"
        exit 0
    fi
    echo "0 passed, 1 failed (ctest did not run)"
    exit 1
fi
failed=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
total=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
echo "$((total - failed)) passed, ${failed} failed"
[ "$failed" -eq 0 ] && [ "$rc" -eq 0 ]
