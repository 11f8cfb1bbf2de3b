#!/bin/sh
# Builds the whole tree again in another configuration (another compiler, a
# sanitizer) and, when asked, runs that build's tests too.
# usage: other_build.sh SOURCE_DIR BINARY_DIR build|test [cmake arguments...]
set -eu
source_dir=$1
binary_dir=$2
mode=$3
shift 3
cmake -S "$source_dir" -B "$binary_dir" -G Ninja -DKELMAR_CHECK_OTHER_BUILDS=OFF "$@"
cmake --build "$binary_dir"
if [ "$mode" = test ]; then
  ctest --test-dir "$binary_dir" --output-on-failure -j2
fi
