#!/usr/bin/env bash
# Which package mirror scripts/apt-mirror.sh reads from a table of APT configurations: each case
# writes its sources into a fresh directory, runs the script on it for bookworm and checks the
# URI it prints, or that it refuses with its message when nothing fits.
# usage: apt_mirror_test.sh APT_MIRROR_SCRIPT
set -euo pipefail

script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# put FILE: the sources file FILE (relative to the configuration directory) from standard input.
put() { mkdir -p "$(dirname "$etc/$1")"; cat >"$etc/$1"; }
begin() { name=$1; etc=$work/$1; mkdir -p "$etc"; }
# expect URI, or expect "" for a refusal
expect() {
    local out err rc=0
    out=$(TORVA_APT_ETC=$etc bash "$script" bookworm 2>"$work/err") || rc=$?
    err=$(<"$work/err")
    if [ -n "$1" ]; then
        [ "$rc" -eq 0 ] && [ "$out" = "$1" ] && [ -z "$err" ] && { echo "ok $name: $out"; return; }
        echo "FAIL $name: expected $1, got '$out' (exit $rc, stderr '$err')"
    else
        [ "$rc" -eq 1 ] && [ -z "$out" ] &&
            [ "$err" = "apt-mirror: no enabled deb source of bookworm with its main component in $etc/sources.list, $etc/sources.list.d/*.list or $etc/sources.list.d/*.sources" ] &&
            { echo "ok $name: refused"; return; }
        echo "FAIL $name: expected the refusal, got '$out' (exit $rc, stderr '$err')"
    fi
    failures=$((failures + 1))
}

begin one-line
put sources.list <<'EOF'
# deb http://commented.invalid/debian bookworm main
deb-src http://source.invalid/debian bookworm main
deb http://security.invalid/debian-security bookworm-security main
deb [arch=amd64 signed-by=/usr/share/keyrings/k.gpg] http://cache.invalid:3142/Debian/ bookworm main contrib # local cache
deb http://later.invalid/debian bookworm main
EOF
expect http://cache.invalid:3142/Debian/

begin deb822-disabled-first
put sources.list.d/local.sources <<'EOF'
# the machine's sources
Types: deb
URIs: http://disabled.invalid/debian
Suites: bookworm
Components: main
Enabled: No

types: deb-src deb
# an inline key: its lines continue Signed-By and are no fields
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 URIs: http://key.invalid/debian
 -----END PGP PUBLIC KEY BLOCK-----
uris:
# comments may stand between a field's lines
 https://first.invalid/debian
 http://second.invalid/debian
Suites: bookworm bookworm-updates
Components: contrib main
EOF
expect https://first.invalid/debian

begin deb822-stanza-split-by-spaces
printf 'Types: deb\nURIs: http://off.invalid/debian\nSuites: bookworm\nComponents: main\nEnabled: false\n  \t\nTypes: deb\nURIs: file:/srv/debian\nSuites: bookworm\nComponents: main\n' |
    put sources.list.d/a.sources
expect file:/srv/debian

begin apt-file-order
put sources.list <<'EOF'
deb-src http://source.invalid/debian bookworm main
EOF
put sources.list.d/z.list <<'EOF'
deb http://z.invalid/debian bookworm main
EOF
put sources.list.d/m.sources <<'EOF'
Types: deb
URIs: cdrom:[Debian 12]/
Suites: bookworm
Components: main

Types: deb
URIs: mirror+file:/etc/apt/mirrors.txt tor+http://onion.invalid/debian http://m.invalid/debian
 http://m2.invalid/debian
Suites: bookworm
Components: main
EOF
put sources.list.d/b.sources.disabled <<'EOF'
Types: deb
URIs: http://ignored.invalid/debian
Suites: bookworm
Components: main
EOF
put sources.list.d/c.list.save <<'EOF'
deb http://ignored.invalid/debian bookworm main
EOF
expect http://m.invalid/debian

begin deb-src-only
put sources.list <<'EOF'
deb-src http://source.invalid/debian bookworm main
EOF
put sources.list.d/src.sources <<'EOF'
Types: deb-src
URIs: http://source.invalid/debian
Suites: bookworm
Components: main
EOF
expect ""

begin no-main
put sources.list <<'EOF'
deb http://contrib.invalid/debian bookworm contrib non-free
deb http://maintained.invalid/debian bookworm maintained
EOF
put sources.list.d/other.sources <<'EOF'
Types: deb
URIs: http://other.invalid/debian
Suites: bookworm
Components: contrib

Types: deb
URIs: http://updates.invalid/debian
Suites: bookworm-updates
Components: main
EOF
expect ""

begin nothing
expect ""

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
