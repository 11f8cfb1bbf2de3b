#!/bin/sh
# Runs one fuzz target for a bounded time, starting from its seed corpus. New inputs and the input of any finding
# go to WORK_DIR, never into the seeds kept in the repository. Fails on any finding.
# usage: run_fuzzer.sh FUZZER SEED_DIR WORK_DIR SECONDS
set -eu
mkdir -p "$3/corpus"
exec "$1" -max_total_time="$4" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$3/" \
  "$3/corpus" "$2"
