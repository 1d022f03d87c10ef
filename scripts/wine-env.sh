# Sourced by every script here: where each architecture's Wine lives, how to call it, and the
# constants they share. win64 runs on the machine's own 64-bit Wine; win32 runs in the Debian
# root that scripts/setup.sh builds, because 32-bit Wine cannot be installed on the machine
# itself.

TUNELORE_WINE32_ROOT="${TUNELORE_WINE32_ROOT:-/var/cache/tunelore/wine32-root}"
TUNELORE_SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# A loopback port where nothing listens: every prefix's WinINet proxy points here unless a test
# points it at the reference service, so the compiled-in service host is never looked up.
TUNELORE_NULL_PROXY=127.0.0.1:9
TUNELORE_INTERNET_SETTINGS='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
TUNELORE_SETTINGS_KEY='HKCU\software\Quillmark\Tunelore plugin\Settings'
TUNELORE_WINE_DRIVERS_KEY='HKCU\Software\Wine\Drivers'
# Left in the Wine root and in a prefix once its set-up has finished: an interrupted one
# leaves none, and is done again.
TUNELORE_READY_MARKER=.tunelore-ready
# A build tree's own Wine prefix; cmake/WineEmulator.cmake gives its tests the same one.
TUNELORE_PREFIX_NAME=wineprefix
TUNELORE_DLL_NAME=Tunelore-WMP.dll
# The x86-64 binutils read i386 images as well.
TUNELORE_OBJDUMP=x86_64-w64-mingw32-objdump
TUNELORE_WINDRES=x86_64-w64-mingw32-windres
# Where the root's 32-bit loader is kept when a wrapper that runs it under emulation takes its
# place (machines whose kernel runs no 32-bit programs).
TUNELORE_WINE32_LOADER=/usr/lib/wine/wine
TUNELORE_WINE32_ELF=/usr/lib/wine/wine.i386-elf
TUNELORE_QEMU=/usr/local/bin/qemu-i386-static

die() { printf '%s: %s\n' "$(basename "$0")" "$*" >&2; exit 2; }

# The build tree is on the Unix side, which Wine shows as drive Z:.
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

# wine_prefix BUILD_DIR, plugin_dll BUILD_DIR, player_sim BUILD_DIR: where a build tree keeps
# them.
wine_prefix() { printf '%s/%s' "$1" "$TUNELORE_PREFIX_NAME"; }
plugin_dll() { printf '%s/plugin/%s' "$1" "$TUNELORE_DLL_NAME"; }
player_sim() { printf '%s/tools/player_sim/tunelore-player-sim.exe' "$1"; }

# The machine type of a PE image: 014c for i386, 8664 for x86-64.
pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}

# The machine type that an architecture's images have, as pe_machine reads it; for any other
# architecture a word that no image's machine equals.
arch_machine() {
  case "$1" in
    win32) echo 014c ;;
    win64) echo 8664 ;;
    *) echo none; return 1 ;;
  esac
}

# How this machine runs 32-bit programs: "native" where the kernel runs them, "emulated" where
# it has 32-bit execution switched off (its log says "32-bit emulation disabled") and the root's
# 32-bit Wine runs under qemu's user-mode emulation. The kernel is asked directly, with a
# 93-byte i386 program that only exits, so the answer needs neither the root nor /proc. Asked
# once per run; the answer is kept in TUNELORE_WINE32_MODE.
wine32_mode() {
  if [ -z "${TUNELORE_WINE32_MODE:-}" ]; then
    local probe
    probe=$(mktemp "${TMPDIR:-/tmp}/tunelore-i386-probe.XXXXXX")
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333\315\200' >"$probe"
    chmod 0700 "$probe"
    # A file system mounted noexec would say no too: the root's own loader is the second opinion.
    if "$probe" 2>/dev/null || chroot "$TUNELORE_WINE32_ROOT" /lib/ld-linux.so.2 --version 2>/dev/null | grep -qi version; then
      TUNELORE_WINE32_MODE=native
    else
      TUNELORE_WINE32_MODE=emulated
    fi
    rm -f "$probe"
    export TUNELORE_WINE32_MODE
  fi
  echo "$TUNELORE_WINE32_MODE"
}

# One line that says how this run treats 32-bit programs, for the top of every command.
print_wine32_mode() {
  case "$(wine32_mode)" in
    native) printf '\n##### 32-bit mode: NATIVE - this machine runs 32-bit programs; the full 32-bit suite runs #####\n' ;;
    emulated) printf '\n##### 32-bit mode: EMULATED - this machine runs no 32-bit programs; 32-bit Wine runs under qemu user-mode emulation, the shipping 32-bit DLL gets its smoke test and the 64-bit twin carries the full suite #####\n' ;;
  esac
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
    win32|win32-host64)
      # win32-host64 runs the root's 64-bit loader on a 32-bit prefix's tree: what needs no
      # 32-bit code (prefix creation, reg, wineserver) then costs no emulation.
      case "$tool" in
        wine) [ "$arch" = win32 ] && tool=$TUNELORE_WINE32_LOADER || tool=/usr/lib/wine/wine64 ;;
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
