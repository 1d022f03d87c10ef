#!/usr/bin/env bash
# Installs what the build and the tests need, builds the 32-bit Wine root once, and sets up how
# that root's 32-bit Wine runs on this machine. Quick when everything is already there.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

HOST_PACKAGES=(
  cmake ninja-build python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth
  googletest clang libclang-rt-14-dev
  debootstrap nsis
  libbenchmark-dev libcurl4-openssl-dev
)

log() { printf '[setup] %s\n' "$*" >&2; }

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

apt_updated=0
install_packages() {
  local missing
  missing=$(missing_packages "$@")
  [ -z "$missing" ] && return 0
  log "installing: $(echo $missing)"
  export DEBIAN_FRONTEND=noninteractive
  [ $apt_updated = 1 ] || apt-get update -q
  apt_updated=1
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
}

# The machine's own Debian mirror, read from its apt sources rather than written here.
debian_mirror() {
  local uri
  uri=$(grep -hE '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null \
        | awk '{print $2}' | grep -v security | head -n1 || true)
  if [ -z "$uri" ]; then
    uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null \
          | grep -E '^deb ' | awk '{print $2}' | grep -v security | head -n1 || true)
  fi
  [ -n "$uri" ] || die "no Debian mirror in /etc/apt/sources.list or /etc/apt/sources.list.d/; the 32-bit Wine root is built from the machine's own mirror"
  echo "$uri"
}

# Removes a directory tree that a bind mount may still reach into (after an interrupted run):
# every mount below it goes first, deepest first, and the removal never crosses into another
# file system.
remove_tree() {
  local dir mount
  dir=$(realpath -m "$1")
  case "$dir" in
    /|"$TUNELORE_SOURCE_DIR"|"$TUNELORE_SOURCE_DIR"/*) die "refusing to remove $dir" ;;
  esac
  case "$TUNELORE_SOURCE_DIR/" in "$dir"/*) die "refusing to remove $dir: the source tree is inside it" ;; esac
  [ -e "$dir" ] || return 0
  while read -r mount; do
    umount "$mount" 2>/dev/null || umount -l "$mount" || die "cannot unmount $mount"
  done < <(awk -v d="$dir" '$2 == d || index($2, d "/") == 1 { print $2 }' /proc/self/mounts | sort -r)
  rm -rf --one-file-system "$dir"
}

# 32-bit Wine cannot be installed on the machine itself (its i386 security index is stale and
# adding the architecture breaks every later apt-get update), so it lives in a Debian root of
# its own whose only source is bookworm main.
build_wine32_root() {
  if [ -f "$TUNELORE_WINE32_ROOT$TUNELORE_WINE32_LOADER" ] && [ -f "$TUNELORE_WINE32_ROOT/$TUNELORE_READY_MARKER" ]; then
    return 0
  fi
  local tmp="$TUNELORE_WINE32_ROOT.partial" mirror
  mirror=$(debian_mirror)
  log "building the 32-bit Wine root in $TUNELORE_WINE32_ROOT from $mirror"
  remove_tree "$tmp"
  mkdir -p "$(dirname "$TUNELORE_WINE32_ROOT")"
  debootstrap --variant=minbase --arch=amd64 bookworm "$tmp" "$mirror" >/dev/null
  mount -t proc proc "$tmp/proc"
  trap 'umount "'"$tmp"'/proc" 2>/dev/null || true' EXIT
  chroot "$tmp" /bin/sh -c '
    set -e
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update -q
    apt-get install -y -q --no-install-recommends wine wine32:i386 wine64
    apt-get clean
  '
  umount "$tmp/proc"
  trap - EXIT
  touch "$tmp/$TUNELORE_READY_MARKER"
  remove_tree "$TUNELORE_WINE32_ROOT"
  mv "$tmp" "$TUNELORE_WINE32_ROOT"
}

# Where the kernel runs no 32-bit programs, the root's 32-bit loader gives way to a wrapper
# that runs it under qemu's user-mode emulation. Wine starts every 32-bit process through that
# loader's path, child processes included, so nothing else changes and no binfmt_misc handler
# is needed. Where the kernel runs them, the loader is the root's own.
#  -R: a guest address space that ends below 2 GiB. With qemu's default, Wine's search for free
#      space above that line takes close to a minute per process under emulation.
#  -0: the loader sees its own name as the wrapper's, which is what Wine executes to start a
#      32-bit child process; the real ELF's name would fail with "Exec format error".
#  WINELOADERNOEXEC: the loader would otherwise re-execute itself, which the kernel cannot.
configure_wine32_loader() {
  local loader=$TUNELORE_WINE32_ROOT$TUNELORE_WINE32_LOADER elf=$TUNELORE_WINE32_ROOT$TUNELORE_WINE32_ELF
  if [ "$(wine32_mode)" = native ]; then
    if [ -f "$elf" ]; then
      log "this machine runs 32-bit programs: the root's own 32-bit loader is back in place"
      mv -f "$elf" "$loader"
    fi
    return 0
  fi
  install_packages qemu-user-static
  [ -f "$elf" ] || cp -a "$loader" "$elf"
  install -m 0755 /usr/bin/qemu-i386-static "$TUNELORE_WINE32_ROOT$TUNELORE_QEMU"
  printf '%s\n' '#!/bin/sh' \
    "# Put here by Tunelore's scripts/setup.sh: this machine's kernel runs no 32-bit programs." \
    'export WINELOADERNOEXEC=1' \
    "exec $TUNELORE_QEMU -R 0x7fff0000 -0 $TUNELORE_WINE32_LOADER $TUNELORE_WINE32_ELF \"\$@\"" >"$loader.tmp"
  chmod 0755 "$loader.tmp"
  mv -f "$loader.tmp" "$loader"
}

install_packages "${HOST_PACKAGES[@]}"
build_wine32_root
configure_wine32_loader
log "ready"
