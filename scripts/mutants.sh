#!/usr/bin/env bash
# A small mutation check: plants one-line faults in the text processor, the backend client, the
# shortcut store and dispatch, the X11 clipboard and the corrector, one at a time, builds the tests
# that guard that code, runs them, and reports whether they caught the fault. Every source file is
# put back afterwards, also when the script is interrupted.
#
# Usage: scripts/mutants.sh [build-dir]     (default: build, configured and built beforehand)
# Runs itself under scripts/with-xvfb.sh, since some of the guarding tests need an X server.
# Exit status: 0 when every mutant was caught, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CTestTestfile.cmake" ] || { echo "mutants: $build is not a configured build tree" >&2; exit 2; }
if [ -z "${TARNWICK_MUTANTS_DISPLAY:-}" ]; then
  exec env TARNWICK_MUTANTS_DISPLAY=1 bash scripts/with-xvfb.sh bash "$0" "$@"
fi

# file | text found on exactly one line of it | what replaces that text | tests that must catch it
mutants=(
  "TextProcessor.cpp|m_pasteboard.writeItems(saved);|(void)saved;|^tst_textprocessor"
  "TextProcessor.cpp|constexpr Platform::Clock::Duration pasteWait = 250ms;|constexpr Platform::Clock::Duration pasteWait = 100ms;|^tst_textprocessor"
  "TextProcessor.cpp|if (m_pasteboard.changeCount() != previousCount)|if (m_pasteboard.changeCount() == previousCount)|^tst_textprocessor"
  "APIClient.cpp|if (status >= 200 && status <= 299) {|if (status >= 200 && status <= 499) {|^tst_apiclient$"
  "APIClient.cpp|if (response.ok && response.text)|if (response.ok \|\| response.text)|^tst_apiclient$"
  "Hotkeys.cpp|static const QString p = QStringLiteral(\"Hotkeys_\");|static const QString p = QStringLiteral(\"Hotkey_\");|^tst_(hotkeys\|shortcutbindings)$"
  "Hotkeys.cpp|defaults->setValue(storageKey(name), false);|defaults->remove(storageKey(name));|^tst_(hotkeys\|shortcutbindings)$"
  "Hotkeys.cpp|if (getShortcut(name) != shortcut)|if (getShortcut(name) == shortcut)|^tst_(hotkeys\|shortcutbindings)$"
  "SystemHotkeysRegistration.cpp|if (event.hotKeyId.signature != signature)|if (event.hotKeyId.signature == signature)|^tst_(hotkeys\|shortcutbindings)$"
  "X11Pasteboard.cpp|if (isProtocolTarget(format) \|\| snap.bytes.contains(format))|if (snap.bytes.contains(format))|^tst_x11pasteboard$"
  "X11Pasteboard.cpp|mime->setData(passwordManagerHintType(),|(void)(|^tst_x11pasteboard$"
  "Corrector.cpp|{\"hour\", \"honest\",|{\"hoar\", \"honest\",|^tst_corrector$"
)

backup=$(mktemp)
current=""
restore() {
  if [ -n "$current" ]; then
    cp "$backup" "$current"
    current=""
  fi
}
trap 'restore; rm -f "$backup"' EXIT
trap 'exit 130' INT TERM

# The one file under src/ or backend/ with this name.
locate() {
  local found
  found=$(find src backend -name "$1" -type f)
  [ "$(printf '%s\n' "$found" | grep -c .)" = 1 ] || return 1
  printf '%s\n' "$found"
}

# Replaces $ORIGINAL by $MUTATED on the one line of $file that holds it; fails unless exactly one
# line does.
mutate() {
  ORIGINAL=$2 MUTATED=$3 awk '
    (at = index($0, ENVIRON["ORIGINAL"])) > 0 {
      $0 = substr($0, 1, at - 1) ENVIRON["MUTATED"] substr($0, at + length(ENVIRON["ORIGINAL"]))
      hits++
    }
    { print }
    END { exit hits == 1 ? 0 : 1 }' "$1" >"$1.mutant" && mv "$1.mutant" "$1" || { rm -f "$1.mutant"; return 1; }
}

caught=0
total=0
printf '%-3s %-30s %-9s %s\n' "#" "file" "result" "mutation"
for entry in "${mutants[@]}"; do
  IFS='|' read -r name original mutated tests <<<"${entry//\\|/$'\x1f'}"
  original=${original//$'\x1f'/|}
  mutated=${mutated//$'\x1f'/|}
  tests=${tests//$'\x1f'/|}
  total=$((total + 1))
  result=""
  if ! file=$(locate "$name"); then
    result="no-file"
  else
    cp "$file" "$backup"
    current=$file
    if ! mutate "$file" "$original" "$mutated"; then
      result="no-line"
    else
      targets=$(ctest --test-dir "$build" -N -R "$tests" | sed -n 's/^ *Test *#[0-9]*: //p')
      if [ -z "$targets" ]; then
        result="no-tests"
      elif ! cmake --build "$build" -j"$(nproc)" --target $targets >"$build/mutant-$total.log" 2>&1; then
        result="no-build"
      elif ctest --test-dir "$build" -R "$tests" --timeout 300 >>"$build/mutant-$total.log" 2>&1; then
        result="SURVIVED"
      else
        result="caught"
        caught=$((caught + 1))
      fi
    fi
    restore
  fi
  printf '%-3s %-30s %-9s %s\n' "$total" "$name" "$result" "$original  =>  $mutated"
done
echo "mutants caught: $caught of $total"
[ "$caught" = "$total" ]
