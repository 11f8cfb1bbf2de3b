#!/usr/bin/env bash
# The demo: kelmar-check on a throwaway Vorlan installation, a multi-session
# backup through libkelmar.so into it, then list, restore, compare, delete,
# and show the trace.
#
# usage: demo.sh [--keep DIR] KELMAR_HOST LIBKELMAR_SO SAMPLE_BACKEND_SO KELMAR_CHECK
#
# --keep DIR (or KELMAR_DEMO_KEEP=DIR) lays the installation out in DIR, which
# must be empty or new, leaves it there, and prints the commands to try on it;
# it warns when other users, such as a DB2 instance owner, could not reach DIR,
# or when kelmar-check would refuse it because another user than root owns it.
#
# The library's trace file and markers live at fixed places in /tmp. Where it
# can, the demo runs in a private mount namespace with its own /tmp, so it
# never touches the machine's /tmp/libkelmar.log or markers: as root directly,
# otherwise inside a user namespace where the caller is root (`unshare -Urm
# true` tells whether the machine allows that). Otherwise it leaves /tmp alone
# and shows the trace only when you switched it on yourself; with
# KELMAR_DEMO_NEEDS_PRIVATE_TMP=1 (the test's way) it exits with status 77
# instead.
set -euo pipefail

if [[ ${1:-} == --keep ]]; then
  KELMAR_DEMO_KEEP=${2:?--keep needs a directory}
  shift 2
fi
keep=${KELMAR_DEMO_KEEP:-}
if [[ -n $keep && -z ${KELMAR_DEMO_PRIVATE_TMP:-} ]]; then
  mkdir -p "$keep"
  keep=$(realpath "$keep")
  if [[ -n $(ls -A "$keep") ]]; then
    echo "--keep $keep: the directory is not empty; give a new or an empty one" >&2
    exit 1
  fi
  # A run in a private /tmp hands it on through the environment.
  export KELMAR_DEMO_KEEP=$keep
  # Judged here, with the machine's users: inside a user namespace the caller is root.
  export KELMAR_DEMO_KEEP_WARNINGS=
  dir=$keep
  while :; do
    read -r mode owner < <(stat -c '%a %U' "$dir")
    if (((8#$mode & 1) == 0)); then
      KELMAR_DEMO_KEEP_WARNINGS+="warning: other users, such as a DB2 instance owner, cannot reach it: $dir is mode $mode"$'\n'
    fi
    if [[ $owner != root ]]; then
      KELMAR_DEMO_KEEP_WARNINGS+="warning: kelmar-check refuses it outside this demo (exit status 11): $dir belongs to $owner, not root"$'\n'
    fi
    [[ $dir == / ]] && break
    dir=${dir%/*}
    dir=${dir:-/}
  done
fi

if [[ -z ${KELMAR_DEMO_PRIVATE_TMP:-} ]]; then
  # Who runs the demo: inside a user namespace every caller is root.
  KELMAR_DEMO_USER="$(id -un) (uid $(id -u))"
  export KELMAR_DEMO_USER
  # Absolute, so that they still name the programs inside the private /tmp.
  programs=("$(realpath -s "$0")" "$(realpath -s "$1")" "$(realpath -s "$2")" "$(realpath -s "$3")" "$(realpath -s "$4")")
  reasons=()
  for namespaces in --mount "--map-root-user --mount"; do
    # shellcheck disable=SC2086 # one word per option
    if ! reason=$(unshare $namespaces true 2>&1); then
      reasons+=("unshare $namespaces: $reason")
      continue
    fi
    status=0
    # shellcheck disable=SC2016,SC2086 # expanded by the inner shell; one word per option
    unshare $namespaces -- env KELMAR_DEMO_PRIVATE_TMP=1 bash -c '
      # The tmpfs would hide programs under /tmp: hold their directories open
      # and bind them back at their own paths.
      held=()
      for program; do
        dir=${program%/*}
        if [[ $dir == /tmp/* ]]; then exec {fd}<"$dir" && held+=("$fd:$dir"); fi
      done
      if [[ ${KELMAR_DEMO_KEEP:-} == /tmp/* ]]; then
        exec {fd}<"$KELMAR_DEMO_KEEP" && held+=("$fd:$KELMAR_DEMO_KEEP")
      fi
      # Keep the new mounts from reaching the machine, then give this run its own /tmp.
      mount --make-rprivate / && mount -t tmpfs -o mode=1777 tmpfs /tmp || exit 90
      for fd_dir in "${held[@]}"; do
        mkdir -p "${fd_dir#*:}" && mount --no-canonicalize --rbind "/proc/self/fd/${fd_dir%%:*}" "${fd_dir#*:}" ||
          exit 90
      done
      exec bash "$@"' demo "${programs[@]}" || status=$?
    if ((status != 90)); then exit $status; fi
    reasons+=("unshare $namespaces: mounting the private /tmp failed")
  done
  if [[ -n ${KELMAR_DEMO_NEEDS_PRIVATE_TMP:-} ]]; then
    printf 'no private /tmp for the demo, skipped: %s\n' "${reasons[@]}"
    exit 77
  fi
  printf '(no private /tmp: %s; going on without one)\n' "${reasons[*]}"
fi

host=$1
libkelmar=$2
backend=$3
check=$4

trace=/tmp/libkelmar.log
say() { printf '\n== %s\n' "$*"; }

if [[ -n ${KELMAR_DEMO_PRIVATE_TMP:-} ]]; then
  say "running with a private /tmp: the trace is switched on for this run only"
  user=${KELMAR_DEMO_USER:-root (uid 0)}
  if [[ $user != "root (uid 0)" ]]; then
    echo "run by $user, who is root inside the demo's user namespace: where kelmar-check says"
    echo "uid 0 (root) below, it means that user"
  fi
  # Readable by no one else, as the library's trace should be.
  (umask 077 && : > "$trace")
  trace_start=0
else
  say "no private /tmp here: the machine's /tmp is left alone"
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

# kelmar-check reports the version of the library DB2 is given; the installed one needs no --library.
library_option=()
if [[ $libkelmar != /opt/kelmar/lib/libkelmar.so ]]; then library_option=(--library "$libkelmar"); fi

say "kelmar-check: would DB2 get a working backend here?"
status=0
"$check" --options XjInstanceName=Instance001 "${library_option[@]}" || status=$?
case $status in
  0) ;;
  11 | 12) echo "(the demo goes on: an installation's files belong to root, the demo's need not)" ;;
  *) exit "$status" ;;
esac

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
  echo "  touch /tmp/libkelmar.log && chmod 600 /tmp/libkelmar.log   # as the user who runs it"
fi

if [[ -n $keep ]]; then
  say "the installation stays in $keep; try:"
  abs() { printf '%q' "$(realpath -s "$1")"; }
  if [[ -n ${KELMAR_DEMO_KEEP_WARNINGS:-} ]]; then
    printf '%s' "$KELMAR_DEMO_KEEP_WARNINGS"
    echo "(for a DB2 instance owner to try it, run the demo as root with a directory every user can search,"
    echo " such as --keep /opt/kelmar-demo)"
  fi
  echo "  XJREG=$(abs "$registry") $(abs "$check") --options XjInstanceName=Instance001${library_option[*]:+ --library $(abs "$libkelmar")}"
  for operation in "backup --input $(abs "$0")" query-images; do
    echo "  XJREG=$(abs "$registry") $(abs "$host") --library $(abs "$libkelmar") $operation --options XjInstanceName=Instance001"
  done
fi
