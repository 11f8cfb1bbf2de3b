#!/bin/sh
# Builds the tree again in another configuration (another compiler, a sanitizer) and runs that build's tests.
# usage: other_build.sh SOURCE_DIR BINARY_DIR all|LABEL:TARGET[,...] [cmake arguments...]
#   all: build and run everything; LABEL:TARGETS: build only these targets and run the tests labelled LABEL.
set -eu
source_dir=$1 binary_dir=$2 label= targets=
case $3 in
  all) ;;
  *:*) label=${3%%:*} targets=$(echo "${3#*:}" | tr , ' ') ;;
  *) echo "other_build.sh: unknown selection $3" >&2 && exit 2 ;;
esac
shift 3
cmake -S "$source_dir" -B "$binary_dir" -G Ninja -DKELMAR_CHECK_OTHER_BUILDS=OFF "$@"
# shellcheck disable=SC2086 # one word per target
cmake --build "$binary_dir" ${targets:+--target $targets}
# A run with skipped tests is skipped as a whole, never passed: exit 77, this test's SKIP_RETURN_CODE, with the
# reasons the skipped tests gave.
log=$binary_dir/other_build_ctest.log
status=0
ctest --test-dir "$binary_dir" --output-on-failure -j2 ${label:+-L "$label"} --no-tests=error >"$log" 2>&1 || status=$?
cat "$log"
[ "$status" = 0 ] || exit "$status"
if grep -q '(Skipped)$' "$log"; then
  # Each skipped test with the reason its output gave: the line after gtest's "Skipped", or one that says "skipped".
  echo "skipped, each for the reason it gave:"
  sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log" | awk '
    FILENAME == "-" { skipped[$0] = 1; next }
    /^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[^:]*: /, "", name); output = 0; reason = ""; after = 0; next }
    /^Output:$/ { output = 1; next }
    /^<end of output>$/ { if (name in skipped) print "  " name ": " (reason != "" ? reason : "no reason given"); output = 0 }
    !output || reason != "" { next }
    after { reason = $0 != "" ? $0 : "no reason given"; next }
    /: Skipped$/ { after = 1; next }
    tolower($0) ~ /skipped/ { reason = $0 }
  ' - "$binary_dir/Testing/Temporary/LastTest.log"
  exit 77
fi
