#!/usr/bin/env bash
# Builds the project (optimised) and runs every benchmark in bench/, or only
# those whose name contains the first argument.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/bootstrap.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVI_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)"

filter=${1:-}
for bench in build-bench/bench/bench_*; do
  [[ -x $bench ]] || continue
  [[ -z $filter || $bench == *"$filter"* ]] || continue
  echo "== ${bench##*/} =="
  "$bench"
done
