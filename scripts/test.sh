#!/usr/bin/env bash
# The one test command: installs what is missing, builds every preset and runs every test:
# natively (plain, sanitized, fuzzed), under 64-bit Wine, and under 32-bit Wine in its root.
#   scripts/test.sh            everything
#   scripts/test.sh win32 ...  only the named presets (after set-up)
set -euo pipefail
cd "$(dirname "$0")/.."
SOURCE_DIR=$PWD

PRESETS=("$@")
# The fuzz preset builds every native test with clang, ASan and UBSan as well, so the
# sanitized run needs no preset of its own here.
[ ${#PRESETS[@]} -gt 0 ] || PRESETS=(native fuzz win64 win32)

started=$(date +%s)
step() { printf '\n=== %s (%ds)\n' "$*" $(( $(date +%s) - started )); }

step "set-up"
bash scripts/setup.sh

# The fewest tests any preset may run: the platform-free tests run on every target, so a
# Windows preset that ran fewer than the native one ran nothing real.
min_tests=1

ctest_count() { sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$1" | tail -n1; }

run_native() {
  local preset=$1 log
  step "$preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  step "$preset: test"
  log=$(mktemp)
  ctest --preset "$preset" -j2 2>&1 | tee "$log"
  local count; count=$(ctest_count "$log"); rm -f "$log"
  [ "${count:-0}" -ge "$min_tests" ] || { echo "$preset ran ${count:-0} tests, expected at least $min_tests" >&2; exit 1; }
  [ "$preset" = native ] && min_tests=$count
  return 0
}

run_windows() {
  local preset=$1 arch log prefix status=0
  arch=$preset
  prefix="$SOURCE_DIR/build/$preset/wineprefix"
  step "$preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  step "$preset: test under Wine ($arch)"
  scripts/wine-rig start "$arch" "$prefix"
  log=$(mktemp)
  # One test at a time: tests share the prefix's registry and the reference service.
  ctest --preset "$preset" 2>&1 | tee "$log" || status=1
  scripts/wine-rig stop "$arch" "$prefix"
  [ "$arch" = win32 ] && scripts/wine-rig unmount
  [ $status -eq 0 ] || exit 1
  local count; count=$(ctest_count "$log"); rm -f "$log"
  [ "${count:-0}" -ge "$min_tests" ] || { echo "$preset ran ${count:-0} tests, expected at least $min_tests" >&2; exit 1; }
  step "$preset: binaries import only Windows system DLLs"
  scripts/check-imports "build/$preset"
  step "$preset: release checks on the DLL"
  scripts/check-release "build/$preset" "$preset"
}

trap 'scripts/wine-rig unmount >/dev/null 2>&1 || true' EXIT

for preset in "${PRESETS[@]}"; do
  case "$preset" in
    native|native-asan|fuzz) run_native "$preset" ;;
    win64|win32) run_windows "$preset" ;;
    *) echo "unknown preset $preset" >&2; exit 2 ;;
  esac
done

# The installer carries both DLLs, so it is built and tried once both presets have passed.
if [[ " ${PRESETS[*]} " == *" win32 "* && " ${PRESETS[*]} " == *" win64 "* ]]; then
  step "installer: build"
  scripts/build-installer build/win32 build/win64 build/installer
  step "installer: install and remove under Wine (64-bit and 32-bit Windows)"
  scripts/test-installer build/installer/Tunelore-Setup.exe win64
  scripts/test-installer build/installer/Tunelore-Setup.exe win32
fi

step "all tests passed"
