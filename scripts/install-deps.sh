#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the tests and the demo need and the machine
# lacks. Safe to run again: it does nothing when everything is there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev            # libFuzzer targets
  libsqlite3-dev sqlite3              # the catalog engine
  libx11-dev libxi-dev libxss-dev     # the X11 desktop sources
  libxcb1-dev                         # QvHooks checks visit keys against the X display
  xvfb xdotool xterm x11-utils        # desktop tests under a virtual X server
  vim-tiny                            # a terminal editor for the desktop tests
  qt6-base-dev                        # the settings window, the ranking page, the start panel
  python3
  chromium                            # the browser extension's end-to-end test in a real browser
  libzip-dev                          # document readers: OpenDocument, Office Open XML and EPUB archives
  libexpat1-dev                       # document readers: stream parsing of the XML inside those archives
  libpoppler-cpp-dev                  # document readers: PDF
  libstemmer-dev                      # Snowball stemming of the catalogs' full-text index
)
if [ -f "$(dirname "$0")/extra-packages.txt" ]; then
  while read -r p _; do
    case "$p" in ''|'#'*) ;; *) packages+=("$p") ;; esac
  done < "$(dirname "$0")/extra-packages.txt"
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
