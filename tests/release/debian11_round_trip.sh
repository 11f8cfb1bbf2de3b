#!/bin/sh
# The .deb on Debian 11 (glibc 2.31, GCC 10's libstdc++): dpkg installs it, both tools start, and a backup and a
# restore through the installed libkelmar.so and the sample backend give back the bytes they were given.
# usage: debian11_round_trip.sh ROOT CPACK CPACK_CONFIG SAMPLE_BACKEND CONSTRUCTOR_PROBE
set -eu
root=$1 cpack=$2 config=$3 backend=$4 probe=$5
skip() { echo "skipped: $*" && exit 77; }
[ "$(id -u)" = 0 ] || skip "debootstrap and chroot need root"

# Debian's archive as this machine's apt has it.
if [ ! -e "$root/.made" ]; then
  mirror=$(apt-get indextargets --format '$(REPO_URI)' 'Label: Debian' 'Target-Of: deb' | sort -u | head -n 1)
  [ -n "$mirror" ] || skip "apt has no Debian archive in its sources"
  /usr/lib/apt/apt-helper download-file "${mirror}dists/bullseye/Release" "$root.Release" >/dev/null 2>&1 ||
    skip "no Debian 11 from ${mirror}: its Release file cannot be fetched"
  rm -rf --one-file-system "$root" "$root.Release"
  command -v debootstrap >/dev/null || { echo "debootstrap is not installed" && exit 1; }
  # In a mount namespace of its own, so that no mount it makes outlives it.
  unshare -m debootstrap --variant=minbase bullseye "$root" "$mirror" >"$root.log" 2>&1 ||
    { tail -n 5 "$root.log" && exit 1; }
  touch "$root/.made"
fi

work=/tmp/kelmar-round-trip
rm -rf --one-file-system "$root$work"
mkdir -p "$root$work/registry/Vorlan/Instance001/Base" "$root$work/home/Base"
"$cpack" --config "$config" -G DEB -B "$root$work/package" >/dev/null 2>&1
echo "dVORLANHOME $work/home" >"$root$work/registry/Vorlan/Instance001/Base/.properties"
cp "$backend" "$root$work/home/Base/libXjKelmar.so"
cp "$probe" "$root$work/"
head -c 5000000 /dev/urandom >"$root$work/image"

in_root() { chroot "$root" env XJREG=$work/registry "$@"; }
set -x
in_root ldd --version | head -n 1
in_root dpkg -i "$work/package/$(cd "$root$work/package" && echo *.deb)"
in_root /opt/kelmar/bin/kelmar-check --version
in_root /opt/kelmar/bin/kelmar-check --options XjInstanceName=Instance001 | tail -n 1
host="/opt/kelmar/bin/kelmar-host --library /opt/kelmar/lib/libkelmar.so --options XjInstanceName=Instance001"
# shellcheck disable=SC2086 # one word per argument
in_root $host --sessions 3 --timestamp 20261207120000 --quiet backup --input $work/image
# shellcheck disable=SC2086
in_root $host --sessions 3 --timestamp 20261207120000 --quiet restore --output $work/restored
cmp "$root$work/image" "$root$work/restored"
[ "$(in_root $work/constructor_probe)" = "constructors run: 2" ]
in_root dpkg --purge libkelmar
[ ! -e "$root/opt/kelmar" ]
