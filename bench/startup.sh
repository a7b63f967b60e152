#!/usr/bin/env bash
# Installs the build into a temporary prefix and measures the installed program's start to ready
# (shortcuts held, bundled backend answering) on a private X server and session bus.
# Usage: bash bench/startup.sh [build-dir] [starts]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
starts=${2:-10}
cmake --build "$build" --target startup_bench tarnwick tarnwick-backend >/dev/null
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
bash scripts/with-xvfb.sh dbus-run-session -- "$build/bench/startup_bench" "$prefix/bin/tarnwick" "$starts"
