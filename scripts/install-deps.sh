#!/usr/bin/env bash
# Installs the Debian 12 packages Tolvex needs to build, test and run, asking
# apt only for those that are missing. Run as root (or with sudo available).
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config git
  # platform layer
  qt6-base-dev qt6-pdf-dev qt6-image-formats-plugins qcoro-qt6-dev
  # Qt's own texts (file choosers, their buttons) in the program's languages
  qt6-translations-l10n
  libssl-dev nlohmann-json3-dev libheif-dev libheif1 zlib1g-dev
  libxcb1-dev libxcb-keysyms1-dev libxcb-shape0-dev libxcb-ewmh-dev libxcb-xinput-dev libxcb-xfixes0-dev
  libcanberra-dev
  # glyphs for the Simplified Chinese texts (and the fixed title of clipboard images)
  fonts-wqy-microhei
  # the icons of the windows where the desktop names no icon theme
  adwaita-icon-theme
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # the check of the installed desktop entry
  desktop-file-utils
  # the test desktop of the x11 tests (scripts/test-desktop.sh)
  xvfb xauth openbox trayer xcompmgr xdotool xclip wmctrl attr
  # fuzzing (scripts/fuzz.sh): clang with libFuzzer and the sanitizers
  clang-14 libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
