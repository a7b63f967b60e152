#!/usr/bin/env bash
# Installs what is needed, builds, and runs Tarnwick. Tarnwick starts the reference backend itself
# where it sends its requests (QUARVEL_BACKEND_URL, default http://127.0.0.1:8787) unless
# something already listens there, and stops it again when it exits.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
exec build/src/tarnwick "$@"
