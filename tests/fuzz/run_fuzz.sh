#!/usr/bin/env bash
# Runs the picture loader's fuzz target.
#   run_fuzz.sh FUZZER SEEDS CORPUS SECONDS [--fresh] [LIBFUZZER_ARGS...]
# New inputs are kept in CORPUS (emptied first with --fresh); SEEDS is only
# read. Crashing inputs are written next to CORPUS as crash-*, leak-*, timeout-*.
# Exits non-zero on the first crash, leak, timeout or sanitizer report.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fuzzer=$1 seeds=$2 corpus=$3 seconds=$4
shift 4
if [ "${1:-}" = --fresh ]; then
  rm -rf "$corpus"
  shift
fi
mkdir -p "$corpus"
artifacts=$(dirname "$corpus")/artifacts
mkdir -p "$artifacts"

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# Each input gets 10 s and 2 GiB; the loader needs a small part of either.
exec "$fuzzer" -dict="$here/bitmap.dict" -max_total_time="$seconds" -max_len=4096 \
  -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$@" "$corpus" "$seeds"
