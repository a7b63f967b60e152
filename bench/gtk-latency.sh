#!/usr/bin/env bash
# Latency from releasing Ctrl+Shift+E to the corrected text in a real GTK editor (a GtkTextView:
# tests/waylandtarget/gtk_target.py), with an instant loopback backend, under a private Xvfb with
# openbox: the median over the runs, every run, and the program's own trace of the median run.
# Usage: bench/gtk-latency.sh [build directory] [runs]     (defaults: build, 9)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-9}
export TARNWICK_TRACE=1
# Debian's interpreter, which has the GTK bindings (python3-gi, gir1.2-gtk-3.0).
exec bash scripts/with-xvfb.sh "$build/bench/pipeline_bench" "$runs" \
  /usr/bin/python3 tests/waylandtarget/gtk_target.py
