#!/usr/bin/env bash
# Builds the fuzz targets with clang-19 (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a fixed number of inputs,
# starting from the project's seed corpus. Prints, per target, the inputs
# run, the crashes and the hangs found; exits 1 when anything was found.
#
#   tests/fuzz/run.sh [RUNS [TARGET...]]   (default 1000000 inputs, every target)
#
# Findings are kept in build-fuzz/findings/<target>/ for reproduction:
#   build-fuzz/fuzz/<target> build-fuzz/findings/<target>/crash-...
set -euo pipefail
cd "$(dirname "$0")/../.."
RUNS=${1:-1000000}
shift || true
BUILD=build-fuzz

for package in clang-19 libclang-rt-19-dev; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    sudo=(); [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends clang-19 libclang-rt-19-dev
    break
  fi
done

CC=clang-19 CXX=clang++-19 cmake -S . -B "$BUILD" -G Ninja -DKV_FUZZ=ON -DKV_BUILD_TESTS=OFF \
  -DKV_BUILD_BENCH=OFF -DKV_BUILD_SETTINGS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=${*:-$(cd tests/fuzz && sed -n 's/^ *kv_add_fuzzer(\([a-z_]*\).*/\1/p' CMakeLists.txt)}
cmake --build "$BUILD" --target $targets >/dev/null


status=0
printf '%-22s %12s %8s %8s %8s\n' target inputs crashes hangs seconds
for target in $targets; do
  corpus_name=${target#fuzz_}
  work="$BUILD/corpus/$target"
  findings="$BUILD/findings/$target"
  rm -rf "$findings"
  mkdir -p "$work" "$findings"
  seeds="tests/fuzz/corpus/$corpus_name"
  log="$BUILD/findings/$target.log"
  started=$(date +%s)
  # Key paths, names and texts of realistic length for the store (every
  # segment of a path is a key of its own); long texts have tests of their own.
  max_len=16384
  [ "$target" = fuzz_store ] && max_len=1024
  "$BUILD/fuzz/$target" -runs="$RUNS" -timeout=5 -rss_limit_mb=2048 -max_len="$max_len" \
    -artifact_prefix="$findings/" -print_final_stats=1 "$work" "$seeds" >"$log" 2>&1 || true
  seconds=$(( $(date +%s) - started ))
  inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  crashes=$(find "$findings" -name 'crash-*' -o -name 'oom-*' -o -name 'leak-*' | wc -l)
  hangs=$(find "$findings" -name 'timeout-*' | wc -l)
  printf '%-22s %12s %8s %8s %8s\n' "$target" "${inputs:-0}" "$crashes" "$hangs" "$seconds"
  if [ "$crashes" -ne 0 ] || [ "$hangs" -ne 0 ] || [ -z "$inputs" ]; then status=1; fi
done
exit $status
