# Sourced by the Wine scripts: where each architecture's Wine lives and how to call it.
# win64 runs on the machine's own 64-bit Wine; win32 runs in the Debian root that
# scripts/setup.sh builds, because 32-bit Wine cannot be installed on the machine itself.

TUNELORE_WINE32_ROOT="${TUNELORE_WINE32_ROOT:-/var/cache/tunelore/wine32-root}"
TUNELORE_SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

die() { printf '%s: %s\n' "$(basename "$0")" "$*" >&2; exit 2; }

# The machine type of a PE image: 014c for i386, 8664 for x86-64.
pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}

# wine_cmd ARCH PREFIX PROGRAM [ARGS...]: runs a Wine tool (wine, wineserver, ...) for ARCH.
wine_cmd() {
  local arch=$1 prefix=$2 tool=$3
  shift 3
  case "$arch" in
    win64)
      case "$tool" in
        wine) tool=/usr/lib/wine/wine64 ;;
        wineserver) tool=/usr/lib/wine/wineserver ;;
      esac
      env WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-}" \
        "$tool" "$@"
      ;;
    win32)
      case "$tool" in
        wine) tool=/usr/lib/wine/wine ;;
        wineserver) tool=/usr/lib/wine/wineserver ;;
      esac
      [ -d "$TUNELORE_WINE32_ROOT$TUNELORE_SOURCE_DIR" ] && mountpoint -q "$TUNELORE_WINE32_ROOT$TUNELORE_SOURCE_DIR" \
        || die "the source tree is not mounted in $TUNELORE_WINE32_ROOT; start the rig first (scripts/wine-rig start win32 ...)"
      # chroot changes to /, so the working directory is restored inside.
      env WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-}" \
        chroot "$TUNELORE_WINE32_ROOT" /bin/sh -c 'cd "$0" 2>/dev/null || cd /; exec "$@"' "$PWD" "$tool" "$@"
      ;;
    *) die "unknown architecture $arch" ;;
  esac
}
