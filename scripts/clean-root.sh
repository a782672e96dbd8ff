#!/usr/bin/env bash
# Proof on a clean system: builds the Debian package (scripts/torva.sh package), makes a minimal
# Debian 12 root with debootstrap, installs the package there with `apt-get install
# ./torva_*.deb`, shows that the installed commands answer --version, and runs the headless demo
# inside that root: the installed console under Xvfb against the installed torva-sim. The demo's
# screenshot is copied out as build-clean-root/torva-clean-root.png.
# Needs root (debootstrap, chroot, mounts) and a package mirror: MIRROR, or by default the one
# this machine's APT takes bookworm's main component from (scripts/apt-mirror.sh), so that a
# local mirror or cache serves the root as it serves the machine. It installs debootstrap when
# missing. Not part of CI: it downloads a whole base system.
# usage: scripts/clean-root.sh [MIRROR]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
out=$here/build-clean-root
root=$out/root

say() { echo "clean-root: $*"; }
die() { echo "clean-root: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "run as root: debootstrap, chroot and mount need it"
if [ $# -ge 1 ]; then
    mirror=$1
else
    mirror=$(bash scripts/apt-mirror.sh bookworm) ||
        die "name a package mirror that carries bookworm: scripts/clean-root.sh URI"
fi

mounted=()
cleanup() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
mount_in_root() { # mount_in_root TYPE TARGET [OPTIONS]
    mkdir -p "$root/$2"
    mount -t "$1" ${3:+-o "$3"} "$1" "$root/$2"
    mounted+=("$root/$2")
}

say "building and checking the package"
bash scripts/torva.sh package
deb=$(ls build-package/torva_*.deb)

if ! command -v debootstrap >/dev/null; then
    say "installing debootstrap"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
fi

# A fresh root every time. Nothing may still be mounted inside an old one, and the removal
# stays on its own file system in any case.
if [ -d "$root" ]; then
    awk -v r="$root/" 'index($2, r) == 1 { found = 1 } END { exit !found }' /proc/self/mounts &&
        die "something is still mounted under $root"
    rm -rf --one-file-system "$root"
fi
mkdir -p "$out"
say "debootstrap --variant=minbase bookworm $root $mirror"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { tail -20 "$out/debootstrap.log" >&2; die "debootstrap failed (log: $out/debootstrap.log)"; }

# What the programs need of a running system: processes, pseudo-terminals (the simulator's
# device), shared memory; and the host's name resolution for apt.
mount_in_root proc proc
mount_in_root devpts dev/pts newinstance,ptmxmode=0666,mode=0620
ln -sf pts/ptmx "$root/dev/ptmx"
mount_in_root tmpfs dev/shm mode=1777
cp /etc/resolv.conf "$root/etc/resolv.conf"

in_root() { chroot "$root" env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"; }

cp "$deb" "$root/root/"
say "apt-get install ./$(basename "$deb")"
in_root apt-get update -q >"$out/apt.log" 2>&1
in_root bash -c "cd /root && apt-get install -y -q ./$(basename "$deb")" >>"$out/apt.log" 2>&1 ||
    { tail -20 "$out/apt.log" >&2; die "installing the package failed (log: $out/apt.log)"; }
in_root dpkg-query -W -f='installed: ${Package} ${Version}\n' torva

say "the installed commands"
for program in torva torva-sim torva-read torva-decode; do
    in_root bash -c "command -v $program && $program --version | head -n 1"
done

say "the demo inside the root: the installed console under Xvfb against the installed torva-sim"
in_root apt-get install -y -q --no-install-recommends xvfb xdotool imagemagick tesseract-ocr \
    tesseract-ocr-eng >>"$out/apt.log" 2>&1 || die "installing the demo's tools failed"
mkdir -p "$root/opt/torva-demo/out"
cp scripts/demo.sh scripts/xdrive.sh "$root/opt/torva-demo/"
in_root env TORVA=/usr/bin/torva TORVA_SIM=/usr/bin/torva-sim \
    bash /opt/torva-demo/demo.sh /opt/torva-demo/out 4
cp "$root/opt/torva-demo/out/demo/torva-demo.png" "$out/torva-clean-root.png"
say "screenshot $out/torva-clean-root.png"
