#!/bin/sh
# Runs every benchmark binary of the release build, one after the other.
set -eu
for b in build/release/bench/*/bench_*; do
    [ -x "$b" ] || continue
    echo "== $b"
    "$b" "$@"
done
