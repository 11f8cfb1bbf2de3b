#!/bin/sh
# Runs one fuzz target for a bounded time, starting from its seed corpus.
# New inputs and the input of any finding go to WORK_DIR, never into the
# seeds kept in the repository. Fails on any finding.
# usage: run_fuzzer.sh FUZZER SEED_DIR WORK_DIR SECONDS
set -eu
fuzzer=$1
seeds=$2
work_dir=$3
seconds=$4
mkdir -p "$work_dir/corpus"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work_dir/" "$work_dir/corpus" "$seeds"
