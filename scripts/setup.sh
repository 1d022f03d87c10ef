#!/usr/bin/env bash
# Installs what the build and the tests need, and builds the 32-bit Wine root once.
# Quick when everything is already there.
set -euo pipefail

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

WINE32_ROOT="${TUNELORE_WINE32_ROOT:-/var/cache/tunelore/wine32-root}"

log() { printf '[setup] %s\n' "$*" >&2; }

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

install_host_packages() {
  local missing
  missing=$(missing_packages "${HOST_PACKAGES[@]}")
  [ -z "$missing" ] && return 0
  log "installing: $(echo $missing)"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
}

# The machine's own Debian mirror, read from its apt sources rather than written here.
debian_mirror() {
  local uri
  uri=$(grep -hE '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null \
        | awk '{print $2}' | grep -v security | head -n1 || true)
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(grep -E '^deb ' /etc/apt/sources.list | awk '{print $2}' | grep -v security | head -n1 || true)
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

# 32-bit Wine cannot be installed on the machine itself (its i386 security index is stale and
# adding the architecture breaks every later apt-get update), so it lives in a Debian root of
# its own whose only source is bookworm main.
build_wine32_root() {
  if [ -x "$WINE32_ROOT/usr/lib/wine/wine" ] && [ -f "$WINE32_ROOT/.tunelore-ready" ]; then
    return 0
  fi
  local tmp="$WINE32_ROOT.partial" mirror
  mirror=$(debian_mirror)
  log "building the 32-bit Wine root in $WINE32_ROOT from $mirror"
  umount "$tmp/proc" 2>/dev/null || true
  rm -rf "$tmp"
  mkdir -p "$(dirname "$WINE32_ROOT")"
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
  touch "$tmp/.tunelore-ready"
  rm -rf "$WINE32_ROOT"
  mv "$tmp" "$WINE32_ROOT"
}

install_host_packages
build_wine32_root
log "ready"
