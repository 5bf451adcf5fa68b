#!/usr/bin/env bash
# Runs the fuzz targets longer than CI does: fuzz/run.sh SECONDS [TARGET...]
# (default 600 s each, every target; two at a time). Builds build-fuzz/ with
# clang first when needed. Each target grows its working corpus in
# build-fuzz/fuzz/work/<target>/ from the seeds in fuzz/corpus/<target>/;
# crashes land in build-fuzz/fuzz/crash-<target>-*. Exits non-zero when a
# target crashed. Logs: build-fuzz/fuzz/run-<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(unpack portsettings config line delivery mailbox mailfile contacts account)
fi

build=$PWD/build-fuzz  # absolute: the targets move into a scratch folder
if [ ! -f $build/CMakeCache.txt ]; then
  cmake -S . -B $build -DVL_FUZZ=ON -DVL_TESTS=OFF -DVL_BENCH=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build $build -j2 --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

run_one() {
  local t=$1
  local out=$build/fuzz
  mkdir -p $out/work/$t
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    $out/fuzz_$t -max_total_time="$seconds" -max_len=16384 -timeout=20 -print_final_stats=1 \
      -artifact_prefix=$out/crash-$t- $out/work/$t $PWD/fuzz/corpus/$t >$out/run-$t.log 2>&1; then
    status=ok
  else
    status=CRASH
  fi
  local runs rate
  runs=$(awk -F: '/stat::number_of_executed_units/ {gsub(/ /, "", $NF); print $NF}' $out/run-$t.log)
  rate=$(awk -F: '/stat::average_exec_per_sec/ {gsub(/ /, "", $NF); print $NF}' $out/run-$t.log)
  printf '%-14s %-6s %10s executions %6s/s  (%s)\n' "$t" "$status" "${runs:-?}" "${rate:-?}" $out/run-$t.log
  [ $status = ok ]
}

failed=0
pids=()
for t in "${targets[@]}"; do
  run_one "$t" &
  pids+=($!)
  if [ ${#pids[@]} -ge 2 ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit $failed
