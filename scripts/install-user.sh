#!/usr/bin/env bash
# Builds Quillon Vesper and installs it for the current user into ~/.local, so that the next
# login starts everything: the programs in ~/.local/bin, the ranking service, the indexing
# service and the search server as systemd user units (enabled and started where a user manager runs; otherwise
# started by autostart entries), and the manager, which starts the tracer, by its autostart
# entry. scripts/uninstall-user.sh undoes it.
set -euo pipefail

usage() {
  cat <<'USAGE'
usage: scripts/install-user.sh [--prefix DIR] [--no-build]

Builds (in build-install/) and installs Quillon Vesper for this user, registers the ranking
service, enables the user units of the ranking and indexing services and the search server
(QvSeek --serve, which answers QvSeek --print from warm catalogs) (or writes autostart
entries where systemctl --user does not work) and the manager's autostart entry.

  --prefix DIR   where to install (default: ~/.local)
  --no-build     install what build-install/ holds already
USAGE
}

prefix="$HOME/.local"
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) [ $# -ge 2 ] || { usage >&2; exit 1; }; prefix="$2"; shift 2 ;;
    --no-build) build=0; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "install-user.sh: unknown option '$1'" >&2; usage >&2; exit 1 ;;
  esac
done
case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac

cd "$(dirname "$0")/.."
if [ "$build" = 1 ]; then
  bash scripts/install-deps.sh
  cmake -S . -B build-install -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_TESTS=OFF \
    -DQV_BENCH=OFF -DCMAKE_INSTALL_PREFIX="$prefix" > /dev/null
  cmake --build build-install -j"$(nproc)"
fi
[ -d build-install ] || { echo "install-user.sh: nothing built in build-install/; run without --no-build" >&2; exit 2; }
cmake --install build-install --prefix "$prefix"

# What was installed, for uninstall-user.sh.
state="$prefix/share/quillon-vesper"
mkdir -p "$state"
cp build-install/install_manifest.txt "$state/install_manifest.txt"

bin="$prefix/bin"
autostart="${XDG_CONFIG_HOME:-$HOME/.config}/autostart"
mkdir -p "$autostart"

# The ranking service's class, event source and language folder.
if [ -x "$bin/QvRankingSvc" ]; then
  "$bin/QvRankingSvc" -RegServer || echo "install-user.sh: registering the ranking service failed; run '$bin/QvRankingSvc -RegServer' to see why" >&2
fi

manager_entry="$prefix/etc/xdg/autostart/quillon-vesper-manager.desktop"
if [ -f "$manager_entry" ]; then
  cp "$manager_entry" "$autostart/"
fi

if systemctl --user show-environment > /dev/null 2>&1; then
  systemctl --user daemon-reload
  unitdir="$prefix/share/systemd/user"
  units=(qv-indexer.service qv-seek.service)
  [ -f "$unitdir/qv-ranking.service" ] && units=(qv-ranking.service "${units[@]}")
  # Units under ~/.local/share are found by name; from another prefix they are linked by path.
  if [ "$unitdir" != "${XDG_DATA_HOME:-$HOME/.local/share}/systemd/user" ]; then
    units=("${units[@]/#/$unitdir/}")
  fi
  systemctl --user enable --now "${units[@]}"
  # A search server from before this install runs the old program: start the new one.
  systemctl --user try-restart qv-seek.service 2> /dev/null || true
  echo "Enabled the user units: ${units[*]##*/}."
else
  # No user manager: the desktop session starts the services instead.
  if [ -x "$bin/QvRankingSvc" ]; then
    cat > "$autostart/quillon-vesper-ranking.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Quillon Vesper Service
Exec="$bin/QvRankingSvc" --run --detach
NoDisplay=true
ENTRY
  fi
  cat > "$autostart/quillon-vesper-indexer.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Quillon Vesper indexing service
Exec="$bin/qvindexer" --detach --quiet
NoDisplay=true
ENTRY
  cat > "$autostart/quillon-vesper-seek.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Quillon Vesper search server
Exec="$bin/QvSeek" --serve --idle-minutes 10080
NoDisplay=true
ENTRY
  echo "systemctl --user does not work here: the services start from autostart entries in $autostart."
fi

case ":$PATH:" in *":$bin:"*) ;; *) echo "Add $bin to PATH to run the tools by name." ;; esac
echo "Installed into $prefix. Log out and in again (or run $bin/QvManager) to start tracing;"
echo "'$bin/qvstatus' shows the catalogs, the web history and the journal."
