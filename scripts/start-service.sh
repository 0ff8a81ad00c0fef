#!/usr/bin/env bash
# Installs what the program needs (no test tools), builds only the program and starts it as the
# service in the foreground (run as root on Debian 12). Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --program
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build build --target postvane
exec build/postvane service=1 "$@"
