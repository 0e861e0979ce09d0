#!/usr/bin/env bash
# Builds the throughput measurement in its own folder and runs it: one body (50 MB unless given)
# fetched several times by Get_UrlData and by `curl -o /dev/null` from the same loopback server.
# Usage: bench/fetch_throughput/run.sh [megabytes] [rounds]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${BUILD_DIR:-$here/../../build-fetch-throughput}"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null
"$build/fetch_throughput" "${1:-50}" "${2:-7}"
