#!/usr/bin/env bash
# Requests per second of the backend with keep-alive (wrk), and its peak memory.
# Usage: bench/backend-rps.sh [build-dir] [seconds] [connections]
# Starts build/backend/tarnwick-backend on a free loopback port, loads it with wrk (one thread,
# the given connections; the backend keeps its default thread pool), prints wrk's summary and the
# backend's peak resident memory (VmHWM), then stops the backend.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/backend-start.sh
build=${1:-build}
seconds=${2:-10}
connections=${3:-8}
command -v wrk >/dev/null || { echo "wrk is not installed (apt-get install wrk)" >&2; exit 1; }

log=$(mktemp)
body=$(mktemp)
script=$(mktemp --suffix=.lua)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$log" "$body" "$script"' EXIT

start_backend "$build" "$log"

run() { # $1: label, $2: JSON body
  cat >"$script" <<LUA
wrk.method = "POST"
wrk.path = "/api/fix-text"
wrk.headers["Content-Type"] = "application/json"
wrk.body = [[$2]]
LUA
  echo "== $1 (${#2} bytes)"
  wrk -t1 -c"$connections" -d"${seconds}s" --latency -s "$script" "http://127.0.0.1:$port" | grep -E "Requests/sec|Latency|99%|Socket errors|Non-2xx"
}
run "short text, fix" '{"text":"i think teh meeting is on tuesday , see you there","mode":"fix"}'
run "short text, formal" '{"mode":"formal","text":"yeah i dont think we are gonna make it"}'
run "clean sentence, fix" '{"text":"The quick brown fox jumps over the lazy dog.","mode":"fix"}'
echo "== backend peak memory: $(grep VmHWM /proc/$pid/status | awk '{print $2, $3}')"
echo "== requests logged: $(grep -c 'POST /api/fix-text 200' "$log")"
