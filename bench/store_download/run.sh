#!/usr/bin/env bash
# Builds the download-loop measurement in its own folder and runs it under /usr/bin/time -v:
# IMAGES images (2000 unless given) of KB kilobytes (100 unless given) from a loopback server.
# Usage: bench/store_download/run.sh [images] [kilobytes]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${BUILD_DIR:-$here/../../build-store-download}"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null
no_proxy='*' NO_PROXY='*' /usr/bin/time -v "$build/store_download" "${1:-2000}" "${2:-100}" 2>&1 \
    | grep -E '^(images|run|again)|Maximum resident|Elapsed \(wall'
