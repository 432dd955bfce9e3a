#!/usr/bin/env bash
# Fuzzes the picture loader, starting from the fixture table.
#   run_fuzz.sh FUZZER CORPUS_TOOL WORKDIR SECONDS [LIBFUZZER_ARGS...]
# New inputs collect in WORKDIR/corpus (kept between runs); crashing inputs
# go to WORKDIR/artifacts. Exits non-zero on the first crash, leak or report.
set -euo pipefail
fuzzer=$1 corpus_tool=$2 work=$3 seconds=$4
shift 4
mkdir -p "$work/seeds" "$work/corpus" "$work/artifacts"
"$corpus_tool" "$work/seeds"
rm -f "$work/seeds/corpus.tsv"
exec "$fuzzer" -dict="$(dirname "$0")/bitmap.dict" -max_total_time="$seconds" -max_len=4096 \
  -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
  "$@" "$work/corpus" "$work/seeds"
