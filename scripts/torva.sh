#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   scripts/torva.sh run      install what is missing, build, start the console (with the module
#                             simulator on Com1 when no module is attached; without a display, a
#                             scripted demo under Xvfb that saves a screenshot)
#   scripts/torva.sh test     install what is missing, build with sanitizers, run every test tier
#                             (each fuzzer for a few seconds)
#   scripts/torva.sh fuzz [SECONDS]
#                             the long fuzzing campaign: every fuzzer for SECONDS (default 600)
#   scripts/torva.sh bench    install what is missing, build optimised, run the benchmarks
#   scripts/torva.sh package  build the Debian package into build-package/ and check it with
#                             lintian, appstreamcli and desktop-file-validate
# Extra arguments after "test" go to ctest (for example: -L unit). TORVA_FUZZ_SECONDS sets how
# long the test command fuzzes each target (5 by default; 0 skips the fuzzers).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"

packages=(cmake g++ make pkg-config
          qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libxcb1-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          fonts-liberation2 fonts-arphic-uming
          xvfb xdotool x11-apps imagemagick xauth tesseract-ocr
          clang libclang-rt-14-dev lld dpkg-dev file)

# Tools the package check needs beyond those: it installs them itself.
package_tools=(lintian appstream desktop-file-utils)

install_missing() { # install_missing [PACKAGE...]: the project's packages, or those named
    local missing=() wanted=("$@")
    [ ${#wanted[@]} -eq 0 ] && wanted=("${packages[@]}")
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

jobs=$(nproc 2>/dev/null || echo 2)

build() { # build DIR [cmake args...]; TARGETS="a b" builds only those
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@"
    local targets=()
    for t in ${TARGETS:-}; do targets+=(--target "$t"); done
    cmake --build "$dir" -j "$jobs" "${targets[@]}"
}

# The test build: clang with AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer, so that
# one tree holds the tests and the fuzzers. A tree configured earlier with another compiler is
# made anew, since CMake keeps a tree's compiler.
build_test_tree() { # build_test_tree [cmake args...]
    if [ -f build-test/CMakeCache.txt ] &&
        ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' build-test/CMakeCache.txt; then
        echo "build-test/ was made with another compiler: starting it anew with clang."
        rm -rf build-test
    fi
    # lld links the sanitized test programs in a fraction of the time the default linker takes,
    # and without gold's warnings about the sanitizer runtime's local symbols.
    CXX=clang++ CC=clang BUILD_TYPE=Debug build build-test -DTORVA_SANITIZE=ON -DTORVA_LIBFUZZER=ON \
        -DTORVA_BUILD_BENCH=OFF -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld "$@"
}

cmd=${1:-run}
[ $# -gt 0 ] && shift
case "$cmd" in
run)
    install_missing
    build build -DBUILD_TESTING=OFF -DTORVA_BUILD_BENCH=OFF
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display: running the demo under Xvfb against the module simulator."
        exec bash scripts/demo.sh build
    fi
    if [ -z "${TORVA_COM1:-}" ] && [ ! -e /dev/ttyUSB0 ]; then
        echo "No module on Com1: starting the module simulator for it."
        exec build/tools/modulesim/torva-sim --run build/app/torva
    fi
    exec build/app/torva
    ;;
test)
    install_missing
    # ctest runs each fuzzer for TORVA_FUZZ_SECONDS: a few by default, enough to replay the seed
    # corpus and try some new inputs; 0 skips them.
    build_test_tree -DTORVA_FUZZ_SECONDS="${TORVA_FUZZ_SECONDS:-5}"
    cd build-test
    # Two tests a core: most of them spend their time waiting on timers, the X server or the
    # simulator.
    exec ctest --output-on-failure -j "$((jobs * 2))" "$@"
    ;;
fuzz)
    install_missing
    seconds=${1:-600}
    TARGETS="fuzz_assembler fuzz_hextext fuzz_fields fuzz_receive" \
        build_test_tree -DTORVA_FUZZ_SECONDS="$seconds"
    echo "Fuzzing each target for $seconds s; findings go to build-test/fuzz-findings/."
    cd build-test
    exec ctest --output-on-failure -j "$jobs" -L fuzz
    ;;
bench)
    install_missing
    BUILD_TYPE=Release build build-bench -DBUILD_TESTING=OFF -DTORVA_BUILD_BENCH=ON
    exec bench/run-all.sh build-bench
    ;;
package)
    install_missing
    install_missing "${package_tools[@]}"
    # Benchmarks are built too (not packaged), so that a change that breaks them shows here.
    # Debian's hardening flags, as a package built by Debian's own tools would get them.
    flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
    BUILD_TYPE=RelWithDebInfo build build-package -DBUILD_TESTING=OFF -DTORVA_BUILD_BENCH=ON \
        -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
        -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)"
    rm -f build-package/torva_*.deb build-package/torva-dbgsym_*.ddeb
    (cd build-package && cpack -G DEB)
    deb=$(ls build-package/torva_*.deb)
    ddeb=$(ls build-package/torva-dbgsym_*.ddeb)
    # CMake 3.25 lists the debug package's files in its md5sums with their absolute paths in the
    # build tree, leaves the symbol files executable and gives the package no documentation:
    # put the first two right and point its documentation at torva's, as Debian's own debug
    # packages do.
    raw=$(mktemp -d)
    trap 'rm -rf "$raw"' EXIT
    dpkg-deb -R "$ddeb" "$raw"
    sed -i 's|  /.*-dbgsym/usr/|  usr/|' "$raw/DEBIAN/md5sums"
    find "$raw/usr" -type f -exec chmod 0644 {} +
    mkdir -p "$raw/usr/share/doc"
    ln -s torva "$raw/usr/share/doc/torva-dbgsym"
    dpkg-deb --root-owner-group -b "$raw" "$ddeb" >/dev/null
    desktop-file-validate packaging/torva.desktop
    appstreamcli validate --no-net build-package/*.metainfo.xml
    lintian --fail-on error,warning --display-info "$deb" "$ddeb"
    echo "Packages: $deb $ddeb (lintian: no errors, no warnings)"
    ;;
*)
    echo "usage: scripts/torva.sh run | test [ctest args] | fuzz [SECONDS] | bench | package" >&2
    exit 2
    ;;
esac
