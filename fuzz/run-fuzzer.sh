#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time from a copy of the seed corpus, so the repository's
# corpus stays small; a finding is kept next to the build as crash-*/leak-*/timeout-*.
# usage: run-fuzzer.sh FUZZER SECONDS CORPUS_DIR ARTIFACT_DIR [libFuzzer options...]
set -euo pipefail
fuzzer=$1 seconds=$2 corpus=$3 artifacts=$4
shift 4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$corpus"/. "$scratch"/
mkdir -p "$artifacts"
"$fuzzer" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$(basename "$fuzzer")-" "$@" "$scratch"
