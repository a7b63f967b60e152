#!/usr/bin/env bash
# Builds the Debian package tarnwick_<version>_amd64.deb into the build tree's directory
# "package" and checks it with lintian. Usage: scripts/package.sh [build-dir]
# Reuses the build tree (default build): an already built tree is packaged without compiling again.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
bash scripts/setup.sh
bash scripts/build.sh "$dir"
rm -rf "$dir/package"
cpack --config "$dir/CPackConfig.cmake" -B "$dir/package" >/dev/null
deb=$(ls "$dir"/package/tarnwick_*.deb)
# Errors fail the build; warnings are shown. Running as root is normal here (CI, containers).
lintian --fail-on error --suppress-tags running-as-root "$deb"
echo "$deb"
