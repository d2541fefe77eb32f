#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up a Debian 12 machine, builds Tarnwick and starts the program.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup-debian.sh"
build=${BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DTARNWICK_TESTS=OFF
cmake --build "$build" -j"$(nproc)" --target tarnwick
exec "$build/app/tarnwick" "$@"
