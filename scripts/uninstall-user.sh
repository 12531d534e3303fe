#!/usr/bin/env bash
# Undoes scripts/install-user.sh: stops and disables the user units, removes the ranking
# service's registration, the autostart entries and every installed file. The user's data
# (QV_ROOT: catalogs, journal, web history, settings) is kept.
set -euo pipefail

usage() {
  cat <<'USAGE'
usage: scripts/uninstall-user.sh [--prefix DIR]

Removes what scripts/install-user.sh installed (default prefix: ~/.local). Your data under
QV_ROOT stays; delete that folder yourself to remove it too.
USAGE
}

prefix="$HOME/.local"
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) [ $# -ge 2 ] || { usage >&2; exit 1; }; prefix="$2"; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "uninstall-user.sh: unknown option '$1'" >&2; usage >&2; exit 1 ;;
  esac
done
case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac

bin="$prefix/bin"
state="$prefix/share/quillon-vesper"
manifest="$state/install_manifest.txt"
autostart="${XDG_CONFIG_HOME:-$HOME/.config}/autostart"

if systemctl --user show-environment > /dev/null 2>&1; then
  systemctl --user disable --now qv-indexer.service qv-ranking.service qv-seek.service \
    2> /dev/null || true
fi
# A search server started by the autostart entry ends on SIGTERM.
pkill -u "$(id -u)" -f -- "$bin/QvSeek --serve" 2> /dev/null || true
# Stops a running service and removes its class, event source and any unit it wrote.
if [ -x "$bin/QvRankingSvc" ]; then
  "$bin/QvRankingSvc" -UnregServer || echo "uninstall-user.sh: removing the ranking service's registration failed; run '$bin/QvRankingSvc -UnregServer' to see why" >&2
fi
if [ -x "$bin/qvindex" ]; then
  "$bin/qvindex" stop > /dev/null 2>&1 || true
fi
rm -f "$autostart/quillon-vesper-manager.desktop" "$autostart/quillon-vesper-ranking.desktop" \
      "$autostart/quillon-vesper-indexer.desktop" "$autostart/quillon-vesper-seek.desktop"

if [ -f "$manifest" ]; then
  # The manifest's last line has no line feed.
  while IFS= read -r file || [ -n "$file" ]; do
    [ -n "$file" ] && rm -f -- "$file"
  done < "$manifest"
  rm -f -- "$manifest"
  rmdir -- "$state" 2> /dev/null || true
else
  echo "uninstall-user.sh: no list of installed files in $state; nothing else removed" >&2
fi
if systemctl --user show-environment > /dev/null 2>&1; then
  systemctl --user daemon-reload
fi
echo "Removed Quillon Vesper from $prefix. A manager still running ends at logout."
echo "Your data stays in ${QV_ROOT:-${XDG_DATA_HOME:-$HOME/.local/share}/quillon-vesper}."
