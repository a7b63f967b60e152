#!/usr/bin/env bash
# Installs every Debian 12 package that Tarnwick needs to build, run and test.
# Idempotent: packages already present are left alone; `apt-get update` runs once per call.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake pkg-config git
  # Qt 6 and coroutines
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins libqt6svg6 qcoro-qt6-dev
  qt6-translations-l10n
  # X11: grabs, synthetic keys, clipboard, layouts
  libxcb1-dev libxcb-xtest0-dev libxcb-keysyms1-dev libxcb-xkb-dev libxcb-xfixes0-dev
  libxcb-shape0-dev libxkbcommon-dev libxkbcommon-x11-dev libx11-dev libx11-xcb-dev
  # reference backend
  libcpp-httplib-dev libssl-dev libaspell-dev aspell-en codespell nlohmann-json3-dev wordnet-base
  # text and word lists that the corrector's word tables are made from at build time
  scowl fortunes
  # a real X server and desktop pieces for tests, screenshots and running headless
  xvfb xauth xdotool xclip xterm openbox trayer xcompmgr x11-xserver-utils x11-utils
  imagemagick fonts-dejavu-core dbus-x11 libnotify-bin
  # switching keyboard layouts in the layout tests
  x11-xkb-utils
  # Wayland: our protocol clients, and a headless sway with native Qt and GTK windows for tests
  libwayland-dev sway xwayland wl-clipboard qt6-wayland python3-gi gir1.2-gtk-3.0
  # benchmarks
  wrk
  # the Debian package and the checks of the installed files; the session bus of the command channel
  dpkg-dev lintian file desktop-file-utils appstream dbus-daemon
  # GNOME under test: headless mutter with XWayland, the real portal frontend (the native GTK
  # window is the Wayland tests' target); GNOME's keybinding settings in a private dconf database
  mutter xwayland xdg-desktop-portal gnome-settings-daemon-common dconf-service
  dconf-gsettings-backend libglib2.0-bin
  # KDE Plasma: KWin's fake-input protocol at build time; a headless KWin for the tests
  plasma-wayland-protocols kwin-wayland
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
