#!/usr/bin/env bash
# The demo: kelmar-check on a throwaway Vorlan installation, a multi-session
# backup through libkelmar.so into it, then list, restore, compare, delete,
# and show the trace.
#
# usage: demo.sh [--keep DIR] KELMAR_HOST LIBKELMAR_SO SAMPLE_BACKEND_SO KELMAR_CHECK
#
# --keep DIR (or KELMAR_DEMO_KEEP=DIR) lays the installation out in DIR, which
# must be empty or new, leaves it there, and prints the commands to try on it.
#
# The library's trace file and markers live at fixed places in /tmp. As root
# the demo runs in a private mount namespace with its own /tmp, so it never
# touches the machine's /tmp/libkelmar.log or markers. Otherwise it leaves
# /tmp alone and shows the trace only when you switched it on yourself.
set -euo pipefail

if [[ ${1:-} == --keep ]]; then
  KELMAR_DEMO_KEEP=${2:?--keep needs a directory}
  shift 2
fi
host=$1
libkelmar=$2
backend=$3
check=$4
keep=${KELMAR_DEMO_KEEP:-}
if [[ -n $keep ]]; then
  mkdir -p "$keep"
  keep=$(realpath "$keep")
  if [[ -n $(ls -A "$keep") ]]; then
    echo "--keep $keep: the directory is not empty; give a new or an empty one" >&2
    exit 1
  fi
  # A run in a private /tmp hands it on through the environment.
  export KELMAR_DEMO_KEEP=$keep
fi

# A tmpfs on /tmp would hide programs that live under /tmp themselves.
under_tmp() { [[ $(realpath "$1") == /tmp/* ]]; }

if [[ -z ${KELMAR_DEMO_PRIVATE_TMP:-} && $(id -u) == 0 ]] && unshare --mount true 2>/dev/null &&
  ! under_tmp "$host" && ! under_tmp "$libkelmar" && ! under_tmp "$backend" && ! under_tmp "$0" &&
  ! { [[ -n $keep ]] && under_tmp "$keep"; }; then
  status=0
  unshare --mount -- env KELMAR_DEMO_PRIVATE_TMP=1 bash -c '
    # Keep the new mounts from reaching the machine, then give this run its own /tmp.
    mount --make-rprivate / && mount -t tmpfs -o mode=1777 tmpfs /tmp || exit 90
    exec bash "$0" "$@"' "$0" "$@" || status=$?
  if ((status != 90)); then exit $status; fi
  echo "(no private /tmp could be made; going on without one)"
fi

trace=/tmp/libkelmar.log
say() { printf '\n== %s\n' "$*"; }

if [[ -n ${KELMAR_DEMO_PRIVATE_TMP:-} ]]; then
  say "running with a private /tmp: the trace is switched on for this run only"
  touch "$trace"
  trace_start=0
else
  say "no private /tmp here (it takes root, unshare, and programs outside /tmp): the machine's /tmp is left alone"
  if [[ -e /tmp/debugDB2 ]]; then
    echo "/tmp/debugDB2 exists: every session would wait for it to go; remove it first" >&2
    exit 1
  fi
  if [[ -w $trace ]]; then
    trace_start=$(stat -c %s "$trace")
  else
    trace_start=
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kelmar-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT

installation=${keep:-$work}
say "a Vorlan registry and installation in $installation"
registry=$installation/registry
home=$installation/vorlan
mkdir -p "$registry/Vorlan/Instance001/Base" "$registry/Vorlan/Instance001/Db2Agent" "$home/Base"
printf 'dVORLANHOME %s\n' "$home" > "$registry/Vorlan/Instance001/Base/.properties"
install -m 755 "$backend" "$home/Base/libXjKelmar.so"
export XJREG=$registry
echo "XJREG=$XJREG"
echo "$registry/Vorlan/Instance001/Base/.properties: $(cat "$registry/Vorlan/Instance001/Base/.properties")"
echo "backend: $home/Base/libXjKelmar.so (keeps its objects in $home/store)"

say "kelmar-check: would DB2 get a working backend here?"
"$check" --options XjInstanceName=Instance001

image=$work/SAMPLE.image
head -c $((12 * 1024 * 1024 + 4321)) /dev/urandom > "$image"
timestamp=20261205141541
run() { "$host" --library "$libkelmar" "$@"; }

say "backup of a $(stat -c %s "$image")-byte image on 4 sessions"
run backup --input "$image" --timestamp $timestamp --sessions 4 --options XjInstanceName=Instance001

say "history query (options as the 344-byte record of Vorlan's user interface)"
run query-images --record vmName=Instance001 --record instanceName=db2inst1

say "restore on 4 sessions"
run restore --output "$work/SAMPLE.restored" --timestamp $timestamp --sessions 4 --options XjInstanceName=Instance001

say "compare"
cmp "$image" "$work/SAMPLE.restored"
original_sum=$(sha256sum < "$image" | cut -c1-16)
echo "restored image is identical to the original (sha256 $original_sum...)"

say "delete the image"
run delete-images --timestamp $timestamp --options XjInstanceName=Instance001
run query-images --options XjInstanceName=Instance001

say "summary"
echo "backed up $(stat -c %s "$image") bytes on 4 sessions through $libkelmar,"
echo "listed 4 objects, restored them identical to the byte, deleted them."

if [[ -n $trace_start ]]; then
  say "the trace this run wrote ($trace)"
  tail -c +$((trace_start + 1)) "$trace"
else
  say "the trace is off"
  echo "to see it, switch it on and run the demo again:"
  echo "  touch /tmp/libkelmar.log && chmod 666 /tmp/libkelmar.log"
fi

if [[ -n $keep ]]; then
  say "the installation stays in $keep; try:"
  abs() { printf '%q' "$(realpath "$1")"; }
  echo "  XJREG=$(abs "$registry") $(abs "$check") --options XjInstanceName=Instance001"
  for operation in "backup --input $(abs "$0")" query-images; do
    echo "  XJREG=$(abs "$registry") $(abs "$host") --library $(abs "$libkelmar") $operation --options XjInstanceName=Instance001"
  done
fi
