#!/usr/bin/env bash
# Installs what is needed, builds, and runs Tarnwick. Unless something already listens where
# Tarnwick sends its requests (QUARVEL_BACKEND_URL, default http://127.0.0.1:8787), it starts the
# reference backend there first and stops it again when Tarnwick exits.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build

backend_pid=""
stop_backend() {
  if [ -n "$backend_pid" ]; then
    kill -TERM "$backend_pid" 2>/dev/null || true
    wait "$backend_pid" 2>/dev/null || true
  fi
}
trap stop_backend EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

listening() { (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; }

url=${QUARVEL_BACKEND_URL-http://127.0.0.1:8787}
scheme=${url%%://*}
authority=${url#*://}
authority=${authority%%[/?#]*}
if [[ $authority == \[* ]]; then # [IPv6]:port
  host=${authority%%]*}
  host=${host#[}
  port=${authority#*]}
  port=${port#:}
else
  host=${authority%%:*}
  port=""
  [[ $authority == *:* ]] && port=${authority##*:}
fi
[ -n "$port" ] || port=80

if [[ $url != *://* || $scheme != http ]] || ! [[ $host =~ ^(127\.[0-9.]+|localhost|::1)$ ]] \
  || ! [[ $port =~ ^[0-9]+$ ]]; then
  echo "run.sh: QUARVEL_BACKEND_URL is not a local http:// address; not starting the reference backend" >&2
elif listening "$host" "$port"; then
  echo "run.sh: a backend already listens on $host:$port; using it" >&2
else
  listen="$host:$port"
  [[ $host == *:* ]] && listen="[$host]:$port"
  build/backend/tarnwick-backend --listen "$listen" &
  backend_pid=$!
  for _ in $(seq 1 100); do
    listening "$host" "$port" && break
    kill -0 "$backend_pid" 2>/dev/null || { backend_pid=""; echo "run.sh: the backend did not start" >&2; exit 1; }
    sleep 0.05
  done
fi

build/src/tarnwick "$@"
