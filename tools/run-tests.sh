#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up a Debian 12 machine, builds Tarnwick and runs every test through CTest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup-debian.sh"
build=${BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja ${TARNWICK_CMAKE_ARGS:-}
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j2 ${CTEST_ARGS:-}
