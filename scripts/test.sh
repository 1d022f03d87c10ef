#!/usr/bin/env bash
# The one test command: installs what is missing, builds every preset and runs every test:
# natively (plain, sanitized, fuzzed), under 64-bit Wine, and under 32-bit Wine in its root.
# Where this machine runs no 32-bit programs, the 32-bit Wine runs under emulation: the win32
# preset is still built and checked, and its shipping DLL gets the smoke test, while the 64-bit
# twin carries the full Windows suite.
#   scripts/test.sh            everything
#   scripts/test.sh win32 ...  only the named presets (after set-up)
#
# Builds keep both cores busy; the Windows test runs mostly wait for Wine, timers and the
# service. So each Windows preset's tests run in the background while the next preset builds,
# and the two installer tests run side by side. Their output is printed whole when they end.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

PRESETS=("$@")
# The fuzz preset builds every native test with clang, ASan and UBSan as well, so the
# sanitized run needs no preset of its own here.
[ ${#PRESETS[@]} -gt 0 ] || PRESETS=(native win64 fuzz win32)

started=$(date +%s)
step() { printf '\n=== %s (%ds)\n' "$*" $(( $(date +%s) - started )); }

logs="$TUNELORE_SOURCE_DIR/build/test-logs"
background=()  # "pid name log" of each job under way

# Whatever happens, no job, wineserver or mount of ours stays behind.
cleanup() {
  local entry pid
  for entry in "${background[@]}"; do
    pid=${entry%% *}
    kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
  done
  for entry in win64 win32; do
    scripts/wine-rig stop "$entry" "$(wine_prefix "$TUNELORE_SOURCE_DIR/build/$entry")" >/dev/null 2>&1 || true
  done
  scripts/wine-rig unmount >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# in_background NAME COMMAND...: runs COMMAND as a job of its own, its output kept in a log.
in_background() {
  local name=$1 log="$logs/$1.log"
  shift
  mkdir -p "$logs"
  step "$name: started in the background"
  setsid "$@" >"$log" 2>&1 </dev/null &
  background+=("$! $name $log")
}

# Waits for every background job, prints each one's output, and fails if any failed.
finish_background() {
  local entry pid name log failed=0
  for entry in "${background[@]}"; do
    read -r pid name log <<<"$entry"
    if wait "$pid"; then
      step "$name: passed"
    else
      step "$name: FAILED"
      failed=1
    fi
    cat "$log"
  done
  background=()
  [ $failed -eq 0 ] || exit 1
}

# Jobs share the 32-bit root side by side: its mounts stay until the end (see cleanup).
export TUNELORE_ROOT_MOUNTS_KEPT=1

step "set-up"
bash scripts/setup.sh

mode=$(wine32_mode)
print_wine32_mode

step "layers"
python3 scripts/check-layers

# The fewest test cases any preset may run: the platform-free tests run on every target, so a
# Windows preset that ran fewer cases than the native one ran nothing real.
min_cases=1

ctest_count() { sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$1" | tail -n1; }

run_native() {
  local preset=$1 log count
  step "$preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  step "$preset: test"
  log=$(mktemp)
  ctest --preset "$preset" -j2 2>&1 | tee "$log"
  count=$(ctest_count "$log"); rm -f "$log"
  [ "${count:-0}" -ge "$min_cases" ] || { echo "$preset ran ${count:-0} tests, expected at least $min_cases" >&2; exit 1; }
  [ "$preset" = native ] && min_cases=$count
  return 0
}

# windows_tests PRESET MIN_CASES [CTEST ARGS...]: the preset's tests with its wineserver up,
# then the count of the cases its test programs ran, from their XML reports. Runs in a shell of
# its own, which sources scripts/wine-env.sh first.
windows_tests() {
  local preset=$1 min=$2 prefix results="$TUNELORE_SOURCE_DIR/build/$1/test-results"
  local status=0 cases
  prefix=$(wine_prefix "$TUNELORE_SOURCE_DIR/build/$preset")
  shift 2
  rm -rf "$results"
  scripts/wine-rig start "$preset" "$prefix"
  ctest --preset "$preset" "$@" || status=$?
  scripts/wine-rig stop "$preset" "$prefix"
  [ $status -eq 0 ] || return $status
  cases=$(cat "$results"/*.xml 2>/dev/null | sed -n 's/.*<testsuites tests="\([0-9]*\)".*/\1/p' \
          | awk '{ n += $1 } END { print n + 0 }')
  echo "$preset: $cases test cases in the Windows test programs"
  [ "$cases" -ge "$min" ] || { echo "$preset ran $cases test cases, expected at least $min" >&2; return 1; }
}

run_windows() {
  local preset=$1
  step "$preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  step "$preset: binaries import only Windows system DLLs"
  scripts/check-imports "build/$preset"
  step "$preset: release checks on the DLL"
  scripts/check-release "build/$preset" "$preset"
  if [ "$preset" = win32 ] && [ "$mode" = emulated ]; then
    # Two 32-bit processes: the built Tunelore-WMP.dll loaded, registered, driven, unloaded.
    in_background "$preset-smoke-test" bash -c "source scripts/wine-env.sh; $(declare -f windows_tests); windows_tests $preset 1 -L smoke"
    echo "$preset: SKIPPED the full 32-bit suite: this machine runs no 32-bit programs; the 64-bit twin runs it"
  else
    # One test program at a time: they share the prefix's registry and the reference service.
    # The smoke subset (label smoke) is part of these programs already.
    in_background "$preset-tests" bash -c "source scripts/wine-env.sh; $(declare -f windows_tests); windows_tests $preset $min_cases -LE smoke"
  fi
}

# Without the native preset, the platform-free count is unknown here: the Windows presets then
# only have to run something.
for preset in "${PRESETS[@]}"; do
  case "$preset" in
    native|native-asan|fuzz) run_native "$preset" ;;
    win64|win32) run_windows "$preset" ;;
    *) echo "unknown preset $preset" >&2; exit 2 ;;
  esac
done

# The installer carries both DLLs, so it is built once both presets are, and tried while their
# tests still run. A few minutes under emulation, where the installer and the 32-bit tools it
# starts are emulated; each kind of Windows has a prefix of its own.
if [[ " ${PRESETS[*]} " == *" win32 "* && " ${PRESETS[*]} " == *" win64 "* ]]; then
  step "installer: build"
  scripts/build-installer build/win32 build/win64 build/installer
  in_background "installer-on-64-bit-windows" scripts/test-installer build/installer/Tunelore-Setup.exe win64
  in_background "installer-on-32-bit-windows" scripts/test-installer build/installer/Tunelore-Setup.exe win32
fi
finish_background
scripts/wine-rig unmount

print_wine32_mode
step "all tests passed"
