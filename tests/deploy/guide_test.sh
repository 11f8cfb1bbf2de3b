#!/usr/bin/env bash
# The deployment guide run as a DBA would run it (examples/deploy/guide.sh), from the install to the removal, for the
# .tar.gz and for `cmake --install`, over a Vorlan installation and a DB2 instance home laid out as their installers
# leave them. It runs as a plain user who is root of a user namespace with its own /tmp and /opt; run as root, it
# becomes uid 65534 first. Without such a namespace it is skipped, with the reason.
# usage: guide_test.sh GUIDE CPACK CPACK_CONFIG BUILD_DIR SAMPLE_BACKEND
set -euo pipefail
guide=$1 cpack=$2 config=$3 build=$4 backend=$5
skip() {
  echo "skipped: $*"
  exit 77
}

case ${KELMAR_GUIDE_STAGE:-} in
  '')
    if [[ $(id -u) == 0 ]]; then
      command -v setpriv >/dev/null || skip "root without setpriv cannot become a plain user"
      setpriv --reuid=65534 --regid=65534 --clear-groups test -r "$config" ||
        skip "uid 65534 cannot read the build tree ($config)"
      exec setpriv --reuid=65534 --regid=65534 --clear-groups env KELMAR_GUIDE_STAGE=user bash "$0" "$@"
    fi
    exec env KELMAR_GUIDE_STAGE=user bash "$0" "$@"
    ;;
  user)
    reason=$(unshare --map-root-user --mount true 2>&1) || skip "no user namespace for uid $(id -u): $reason"
    exec unshare --map-root-user --mount env KELMAR_GUIDE_STAGE=namespace bash "$0" "$@"
    ;;
esac

# A tmpfs on /tmp and /opt would hide what lies there: hold those directories open and bind them back.
held=()
for dir in "${guide%/*}" "$build" "${backend%/*}"; do
  if [[ $dir == /tmp/* || $dir == /opt/* ]]; then exec {fd}<"$dir" && held+=("$fd:$dir"); fi
done
mount --make-rprivate /
mount -t tmpfs -o mode=1777 tmpfs /tmp
mount -t tmpfs -o mode=0755 tmpfs /opt
for fd_dir in "${held[@]}"; do
  mkdir -p "${fd_dir#*:}"
  mount --no-canonicalize --rbind "/proc/self/fd/${fd_dir%%:*}" "${fd_dir#*:}"
done
# An install writes its manifest into the build tree, which this user may not write: an overlay takes it.
work=/tmp/guide-test
mkdir -p "$work/build-changes" "$work/overlay-work"
reason=$(mount -t overlay overlay -o "lowerdir=$build,upperdir=$work/build-changes,workdir=$work/overlay-work" \
  "$build" 2>&1) || skip "no overlay on the build tree in a user namespace: $reason"
# The manifest of an earlier install belongs to its owner outside; a new one in its place is this user's.
rm -f "$build/install_manifest.txt"
"$cpack" --config "$config" -G TGZ -B "$work/package" >"$work.cpack.log" 2>&1 || { tail -n 20 "$work.cpack.log" && exit 1; }
packages=("$work"/package/libkelmar-*-Linux.tar.gz)

# The Vorlan installation, root's, with the sample backend.
registry=/opt/tornevale/registry
mkdir -p "$registry/Vorlan/Instance001/Base" "$registry/Vorlan/Instance001/Db2Agent" /opt/vorlan/7.2/Base
echo "dVORLANHOME /opt/vorlan/7.2" >"$registry/Vorlan/Instance001/Base/.properties"
install -m 755 "$backend" /opt/vorlan/7.2/Base/libXjKelmar.so
# The instance home as DB2 creates it: the login profile reads sqllib/db2profile, which ends by reading
# sqllib/userprofile, empty until the guide writes there.
home=/tmp/db2inst1
mkdir -p "$home/sqllib"
: >"$home/sqllib/userprofile"
# shellcheck disable=SC2016 # expanded by the login shell
echo '. "$HOME/sqllib/db2profile"' >"$home/.profile"
# shellcheck disable=SC2016 # expanded by the login shell
echo 'if [ -f "$HOME/sqllib/userprofile" ]; then . "$HOME/sqllib/userprofile"; fi' >"$home/sqllib/db2profile"

for source in "${packages[0]}" "$build"; do
  echo "=== the guide with $source"
  HOME=$home bash "$guide" "$source" --instance-owner "$(id -un)" --registry "$registry" --trace \
    --new-backend "$backend" --marker-seconds 0 --uninstall 2>&1 | tee "$work.log"
  grep -q "^registry          ok       $registry (from XJREG)$" "$work.log" ||
    { echo "the instance owner's login shell did not get XJREG from sqllib/userprofile" && exit 1; }
done
