#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz/ and runs each one for a bounded time, starting from the seeds and the corpus that
# earlier runs left there. A crash, a sanitizer report or a broken property fails the run; its
# input is kept in build-fuzz/artifacts/.
#
#   scripts/fuzz.sh [seconds per target (60)] [targets at once (1)] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
parallel=${2:-1}
shift $(( $# > 2 ? 2 : $# ))
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(dispatcher framing table_files settings_file unicode)
jobs=${VOREL_JOBS:-$(nproc)}

cmake -S tests/fuzz -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j"$jobs"
rm -rf build-fuzz/seeds
build-fuzz/fuzz_seeds build-fuzz/seeds
mkdir -p build-fuzz/artifacts build-fuzz/logs

run_target() {
  local name=fuzz_$1
  local dict=()
  [[ -f tests/fuzz/$1.dict ]] && dict=(-dict="tests/fuzz/$1.dict")
  mkdir -p "build-fuzz/corpus/$name"
  # A single input that takes 30 s, or a process of 4 GiB, counts as a failure too.
  build-fuzz/"$name" "${dict[@]}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$name-" \
    "build-fuzz/corpus/$name" "build-fuzz/seeds/$name" >"build-fuzz/logs/$name.log" 2>&1
}

declare -A pids
for t in "${targets[@]}"; do
  while (( $(jobs -rp | wc -l) >= parallel )); do wait -n || true; done
  run_target "$t" &
  pids[$t]=$!
done

failed=0
for t in "${targets[@]}"; do
  if wait "${pids[$t]}"; then status=ok; else status=FAILED; failed=1; fi
  log=build-fuzz/logs/fuzz_$t.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  line=$(sed -n -E 's/^#[0-9]+[[:space:]]+DONE[[:space:]]+//p' "$log" | tail -1)
  printf 'fuzz_%-14s %-6s runs %-10s %s\n' "$t" "$status" "${runs:-?}" "${line:-}"
  if [[ $status != ok ]]; then
    grep -E 'ERROR|SUMMARY|property broken|Test unit written' "$log" | head -20 || tail -20 "$log" || true
  fi
done
exit "$failed"
