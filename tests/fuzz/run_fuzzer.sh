#!/bin/sh
# Runs the archive reader's fuzzer: first every stored finding once, then new inputs for a bounded time
# (ZIPCORE_FUZZ_SECONDS, 60 by default). A crash fails the test and leaves the input in WORK/artifacts:
# copy it into tests/fuzz/regressions so that it is replayed from then on.
# usage: run_fuzzer.sh FUZZER SEEDS WORK REGRESSIONS
set -eu
fuzzer=$1 seeds=$2 work=$3 regressions=$4
seconds=${ZIPCORE_FUZZ_SECONDS:-60}
mkdir -p "$work/corpus" "$work/artifacts"
set -- "$regressions"/*
if [ -e "$1" ]; then
  "$fuzzer" -artifact_prefix="$work/artifacts/" "$@"
fi
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"
