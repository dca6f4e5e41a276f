#!/usr/bin/env bash
# Runs the libFuzzer targets of a VEXA_FUZZ build, each for FUZZ_SECONDS (default 60).
#   run_fuzz.sh BUILD_DIR [TARGET...]     targets: header decompress decrypt item pe
# Each target grows a working corpus under BUILD_DIR/fuzz/work/<target>, seeded from
# fuzz/corpus/<target>; the seeds in the tree are left alone. A crash input is written to
# BUILD_DIR/fuzz/crashes/<target>/: once its cause is fixed, keep it as
# fuzz/regressions/<target>/<name>, and every later `make test` replays it.
set -uo pipefail

build=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(header decompress decrypt item pe)
seconds=${FUZZ_SECONDS:-60}
source_dir=$(cd "$(dirname "$0")" && pwd)

failed=0
for t in "${targets[@]}"; do
  work=$build/fuzz/work/$t
  crashes=$build/fuzz/crashes/$t
  log=$build/fuzz/logs/$t.log
  mkdir -p "$work" "$crashes" "$(dirname "$log")"
  inputs=("$work" "$source_dir/corpus/$t")
  [ -d "$source_dir/regressions/$t" ] && inputs+=("$source_dir/regressions/$t")
  # PE images and archives need room; the others' inputs are small records and streams.
  max_len=8192
  [ "$t" = pe ] && max_len=65536
  nice "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=$max_len -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/" "${inputs[@]}" \
    >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  printf '%-11s %12s execs in %ss  %s\n' "$t" "${execs:-?}" "$seconds" \
    "$([ $rc -eq 0 ] && echo ok || echo "FAILED (see $log)")"
  [ $rc -eq 0 ] || failed=1
done
exit $failed
