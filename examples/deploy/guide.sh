#!/usr/bin/env bash
# The README's "Deploying into a Vorlan installation", step by step, for a DBA
# to run as root on the DB2 server: install libkelmar, make the Vorlan
# registry known to DB2's engine processes, check the installation as the
# instance owner, a first backup, and, when asked, an upgrade of the backend,
# a rotation of the trace and the removal of the install. It prints each
# command before it runs it and stops at the first that fails. It restarts no
# DB2 instance and changes no database's configuration: it prints those
# commands for you to run when the instance may be restarted.
#
# usage: guide.sh PACKAGE|BUILD_DIR [options]
#   PACKAGE      libkelmar_*.deb, libkelmar-*.rpm or libkelmar-*-Linux.tar.gz,
#                or BUILD_DIR, a build tree for `cmake --install`
#   --instance-owner USER  the DB2 instance owner (db2inst1)
#   --instance NAME        the Vorlan instance that serves the backups (Instance001)
#   --registry DIR         the Vorlan registry, when not /etc/TornevaleRegistry
#   --trace                switch the library's trace on for the first backup, and rotate it
#   --new-backend FILE     put FILE in place as the instance's backend, DB2 running
#   --marker-seconds N     keep the unload marker N seconds after that (300)
#   --uninstall            remove the install again at the end
set -euo pipefail

say() { printf '\n== %s\n' "$*"; }
# Each command on standard error before it runs, as `bash -x` shows it.
run() {
  printf '+ %s\n' "$*" >&2
  "$@"
}
fail() {
  echo "guide.sh: $*" >&2
  exit 1
}

[[ $# -ge 1 ]] || fail "usage: guide.sh PACKAGE|BUILD_DIR [options] (see the top of this file)"
source=$1
shift
owner=db2inst1 instance=Instance001 registry=/etc/TornevaleRegistry trace='' new_backend='' marker_seconds=300 uninstall=''
while [[ $# -gt 0 ]]; do
  case $1 in
    --instance-owner) owner=$2 && shift ;;
    --instance) instance=$2 && shift ;;
    --registry) registry=$2 && shift ;;
    --trace) trace=1 ;;
    --new-backend) new_backend=$(realpath "$2") && shift ;;
    --marker-seconds) marker_seconds=$2 && shift ;;
    --uninstall) uninstall=1 ;;
    *) fail "unknown option $1" ;;
  esac
  shift
done
[[ $(id -u) == 0 ]] || fail "run it as root: it installs under /opt"
source=$(realpath "$source")

# The instance owner's login shell, which reads sqllib/userprofile as the shell that starts the instance does.
# Run as the instance owner itself, the script uses its own login environment ($HOME).
if [[ $owner == "$(id -un)" ]]; then
  instance_home=$HOME
  as_owner() {
    printf '+ (as %s, login shell) %s\n' "$owner" "$1" >&2
    env -i HOME="$instance_home" USER="$owner" LOGNAME="$owner" PATH=/usr/bin:/bin bash -l -c "$1"
  }
else
  instance_home=$(getent passwd "$owner" | cut -d: -f6)
  as_owner() {
    printf '+ su - %s -c %q\n' "$owner" "$1" >&2
    su - "$owner" -c "$1"
  }
fi
userprofile=$instance_home/sqllib/userprofile
[[ -f $userprofile ]] || fail "$userprofile is missing: is $owner a DB2 instance owner?"
check="/opt/kelmar/bin/kelmar-check --options XjInstanceName=$instance"
host="/opt/kelmar/bin/kelmar-host --library /opt/kelmar/lib/libkelmar.so --db KELMARCK --options XjInstanceName=$instance"

say "1. install libkelmar as root"
case $source in
  *.deb) run dpkg -i "$source" ;;
  *.rpm) run rpm -Uvh "$source" ;;
  *.tar.gz) run tar -xzf "$source" -C /opt ;;
  *) [[ -f $source/cmake_install.cmake ]] || fail "$source is neither a package nor a build tree"
     run cmake --install "$source" --prefix /opt/kelmar ;;
esac
run ls -l /opt/kelmar/lib/libkelmar.so /opt/kelmar/bin
run /opt/kelmar/bin/kelmar-check --version

say "2. tell DB2's engine processes where the Vorlan registry is: $userprofile"
# DB2 reads sqllib/userprofile at the end of sqllib/db2profile, in the instance owner's login shell; the engine
# processes that db2start starts from there inherit its environment.
begin="# libkelmar: the Vorlan registry and instance for DB2's engine processes"
end="# libkelmar: end"
run sed -i "/^$begin\$/,/^$end\$/d" "$userprofile"
{
  echo "$begin"
  if [[ $registry != /etc/TornevaleRegistry ]]; then echo "export XJREG=$registry"; fi
  echo "export VORLAN_INST=$instance"
  echo "$end"
} >>"$userprofile"
run cat "$userprofile"
# shellcheck disable=SC2016 # expanded by the instance owner's shell
as_owner 'echo "XJREG=${XJREG:-(unset: /etc/TornevaleRegistry)} VORLAN_INST=$VORLAN_INST"'

say "3. check the installation as the instance owner, with the options the backups use"
as_owner "$check"

if [[ -n $trace ]]; then
  say "switch the trace on, as the instance owner: a file of that user, mode 600"
  as_owner 'touch /tmp/libkelmar.log && chmod 600 /tmp/libkelmar.log'
fi

say "4. a first backup through the installed library, as the instance owner, restored and deleted again"
work=$(as_owner 'mktemp -d') && trap 'rm -rf "$work"' EXIT
timestamp=$(date +%Y%m%d%H%M%S)
as_owner "head -c 3000000 /dev/urandom > $work/image && $host backup --input $work/image --timestamp $timestamp --sessions 2"
as_owner "$host query-images --timestamp $timestamp"
as_owner "$host restore --output $work/restored --timestamp $timestamp --sessions 2 && cmp $work/image $work/restored"
as_owner "$host delete-images --timestamp $timestamp"
cat <<EOF
DB2's own backups get the new environment once the instance is restarted from the instance owner's login shell,
when it may be (the script does not do it):
  su - $owner -c 'db2stop && db2start'
  su - $owner -c "db2 backup database SAMPLE load /opt/kelmar/lib/libkelmar.so options 'XjInstanceName=$instance'"
EOF

if [[ -n $new_backend ]]; then
  say "5. upgrade the backend while DB2 runs: the unload marker, then a rename into place"
  home=$(awk '$1 == "dVORLANHOME" { print $2; exit }' "$registry/Vorlan/$instance/Base/.properties")
  as_owner 'touch /tmp/xj_unloadLibXjKelmar'
  run install -m 755 -o root -g root "$new_backend" "$home/Base/.libXjKelmar.so.new"
  run mv -T "$home/Base/.libXjKelmar.so.new" "$home/Base/libXjKelmar.so"
  as_owner "$check"
  as_owner "$host query-images"
  echo "every DB2 process loads the new backend at the end of its next session; waiting $marker_seconds s"
  run sleep "$marker_seconds"
  as_owner 'rm /tmp/xj_unloadLibXjKelmar'
fi

if [[ -n $trace ]]; then
  say "6. rotate the trace: a new empty file renamed over the old one's name, as the instance owner"
  # shellcheck disable=SC2016 # expanded by the instance owner's shell
  as_owner 'cd /tmp && new=$(mktemp libkelmar.log.XXXXXX) && mv -T libkelmar.log libkelmar.log.1 && mv -T "$new" libkelmar.log'
  as_owner "$host query-images"
  run ls -l /tmp/libkelmar.log /tmp/libkelmar.log.1
  [[ -s /tmp/libkelmar.log && -s /tmp/libkelmar.log.1 ]] || fail "the rotated trace did not go on"
  echo "/tmp/libkelmar.log.1 holds the lines from before: move it to where you keep such files"
  say "switch the trace off"
  as_owner 'rm /tmp/libkelmar.log'
fi

if [[ -n $uninstall ]]; then
  cat <<EOF

== 7. remove the install
First take the library out of DB2's configuration, as the instance owner, for every database that names it:
  db2 update db cfg for SAMPLE using LOGARCHMETH1 <another method>
EOF
  run sed -i "/^$begin\$/,/^$end\$/d" "$userprofile"
  case $source in
    *.deb) run dpkg -r libkelmar ;;
    *.rpm) run rpm -e libkelmar ;;
    *) run rm -r /opt/kelmar ;;  # the .tar.gz and cmake --install put every file there, and nothing elsewhere
  esac
  [[ ! -e /opt/kelmar/lib/libkelmar.so ]] || fail "/opt/kelmar/lib/libkelmar.so is still there"
  echo "then restart the instance, as above, so that its processes lose XJREG and VORLAN_INST"
fi
say "done"
