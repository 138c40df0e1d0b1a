#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with ctest.
#   scripts/test.sh                  the normal build (build/)
#   ORVAN_BUILD_DIR=... ORVAN_CMAKE_ARGS="..." ORVAN_CTEST_ARGS="..." scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$BUILD_DIR" -G Ninja ${ORVAN_CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"
cd "$BUILD_DIR"
# Twice as many tests as processors: many of them wait on paced play or on
# the programs they run, and the processors would idle.
# shellcheck disable=SC2086
QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy ctest --output-on-failure -j "$(($(nproc) * 2))" ${ORVAN_CTEST_ARGS:-}
