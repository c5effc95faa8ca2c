#!/usr/bin/env bash
# The store benchmark from nothing: a Release build with the benchmarks, a throw-away PostgreSQL
# server, RUNS runs of store_bench (each with the machine's load before it), the server removed.
#
#   bash bench/store_access/run.sh [RUNS] [BUILD_DIR]      (defaults: 3, build-store-rel)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=${1:-3}
build=${2:-$root/build-store-rel}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DIMP_BUILD_BENCH=ON -DIMP_BUILD_TESTS=OFF \
  -DIMP_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target store_bench -j2 >/dev/null
server=$(mktemp -d /tmp/pg-store-bench.XXXXXX)
rmdir "$server"
"$root/scripts/pg-test-server" start "$server" >/dev/null
trap '"$root/scripts/pg-test-server" destroy "$server" >/dev/null' EXIT
# shellcheck disable=SC1091
source "$server/env"
for ((i = 1; i <= runs; i++)); do
  echo "== run $i of $runs; $(uptime)"
  "$build/bench/store_access/store_bench"
done
