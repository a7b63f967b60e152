#!/usr/bin/env bash
# How long a small request waits while large ones are being corrected.
# Usage: bench/backend-queue.sh [build-dir] [large-requests] [small-requests]
# Starts build/backend/tarnwick-backend (default options: 2 s CPU budget per request) on a free
# loopback port and sends the small requests one after another, alone; then sends the large
# requests at once (each about 800 KB of words that no dictionary knows: every one costs the
# corrector a search for suggestions) and, while they run, the small requests again. Prints the
# small requests' response times (curl's time_total) both ways and how long the large ones took,
# then stops the backend.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/backend-start.sh
build=${1:-build}
large=${2:-16}
small=${3:-200}
command -v curl >/dev/null || { echo "curl is not installed (apt-get install curl)" >&2; exit 1; }

work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

start_backend "$build" "$work/log"
url="http://127.0.0.1:$port/api/fix-text"

# 100,000 random seven-letter words, a full stop after every eighth.
{
  printf '{"mode":"fix","text":"'
  (set +o pipefail; tr -dc 'a-z' </dev/urandom | fold -w 7 | head -n 100000) |
    awk '{ printf "%s%s", $0, (NR % 8 ? " " : ". ") }'
  printf '"}'
} >"$work/large.json"
echo "== $large large requests of $(wc -c <"$work/large.json") bytes each, then $small small ones"

small_body='{"text":"i think teh meeting is on tuesday , see you there","mode":"fix"}'
send_small() { # $1: output file
  for _ in $(seq 1 "$small"); do
    curl -s -o /dev/null -w '%{http_code} %{time_total}\n' -H 'Content-Type: application/json' \
      --data "$small_body" "$url"
  done >"$1"
}
send_small "$work/alone"

started=$(date +%s.%N)
for i in $(seq 1 "$large"); do
  curl -s -o /dev/null -w '%{http_code} %{time_total}\n' -H 'Content-Type: application/json' \
    --data-binary @"$work/large.json" "$url" >"$work/result.$i" &
done
sleep 0.5 # let them all arrive

send_small "$work/small"
small_done=$(date +%s.%N)
wait $(jobs -p | grep -v "^$pid$") 2>/dev/null || true
running=$(awk -v a="$started" -v b="$small_done" 'BEGIN { printf "%.1f", b - a }')

summary() { # $1: label, $2: file of "status seconds" lines
  sort -k2 -g "$2" | awk -v label="$1" '
    { status[$1]++; t[NR] = $2 * 1000 }
    END {
      n = NR; codes = ""; for (c in status) codes = codes (codes == "" ? "" : ", ") status[c] "x" c
      printf "%s: %d requests (HTTP %s): min %.1f ms, median %.1f ms, p95 %.1f ms, p99 %.1f ms, max %.1f ms\n",
        label, n, codes, t[1], t[int((n + 1) / 2)], t[int(n * 0.95 + 0.5)], t[int(n * 0.99 + 0.5)], t[n]
    }'
}
summary "small, alone" "$work/alone"
summary "small, while the large ones ran (${running} s after they started)" "$work/small"
cat "$work"/result.* >"$work/large"
summary "large" "$work/large"
# The server's own time for each small request (from reading its headers to logging it).
grep " in=${#small_body} " "$work/log" | sed 's/.* \([0-9.]*\)ms in=.*/200 \1/' | awk '{ print $1, $2 / 1000 }' >"$work/own"
head -n "$small" "$work/own" >"$work/own.alone"
tail -n +"$((small + 1))" "$work/own" >"$work/own.small"
summary "small, alone, the server's own time" "$work/own.alone"
summary "small, while the large ones ran, the server's own time" "$work/own.small"
echo "== the large ones were still running when the last small one was answered: $(awk -v s="$small_done" -v a="$started" '{ if ($2 > s - a) n++ } END { print n + 0 }' "$work/large") of $large"
