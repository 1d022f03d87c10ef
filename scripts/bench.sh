#!/usr/bin/env bash
# The one benchmark command: what the plug-in costs the player. Builds what it needs in
# build/bench-native, build/bench-win64 and build/bench-win32, runs the native part (the codec),
# then the win64 and the win32 parts under Wine (the tick, start-up and teardown, the end-to-end
# run through the player simulator), and prints one table. The table and the raw figures are
# kept in build/bench-results/<UTC moment>/. Leaves nothing running and the 32-bit root unmounted.
#   scripts/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

results="$TUNELORE_SOURCE_DIR/build/bench-results/$(date -u +%Y%m%dT%H%M%SZ)"
mkdir -p "$results"
cat /proc/loadavg >"$results/loadavg-start"
build_log="$results/build.log"

started=$(date +%s)
step() { printf '=== %s (%ds)\n' "$*" $(( $(date +%s) - started )) >&2; }


service_pid=""
rig_started=()

stop_service() {
  [ -n "$service_pid" ] || return 0
  # Only the process started here, and only while it is still the service.
  if tr '\0' ' ' <"/proc/$service_pid/cmdline" 2>/dev/null | grep -q 'bench/timed_service.py'; then
    kill "$service_pid" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$service_pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  service_pid=""
}

cleanup() {
  stop_service
  local entry
  for entry in "${rig_started[@]}"; do
    scripts/wine-rig stop ${entry} >/dev/null 2>&1 || true
  done
  scripts/wine-rig unmount >/dev/null 2>&1 || true
}
trap cleanup EXIT
# Interrupted, it still leaves no wineserver, service or mount behind.
trap 'exit 130' INT
trap 'exit 143' TERM

step "set-up"
bash scripts/setup.sh
print_wine32_mode >&2

step "build: native"
cmake --preset native -B build/bench-native -DTUNELORE_BENCH=ON >>"$build_log"
cmake --build build/bench-native --target codec_bench >>"$build_log"
for arch in win64 win32; do
  step "build: $arch"
  cmake --preset "$arch" -B "build/bench-$arch" -DTUNELORE_BENCH=ON >>"$build_log"
  cmake --build "build/bench-$arch" --target tick_bench load_bench bench_empty_dll tunelore_dll \
    tunelore-player-sim >>"$build_log"
done

step "native: codec"
build/bench-native/bench/codec_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_out="$results/codec.json" --benchmark_out_format=json \
  >"$results/codec.txt"

run_windows() {
  local arch=$1 build="$TUNELORE_SOURCE_DIR/build/bench-$1" prefix
  prefix=$(wine_prefix "$build")
  step "$arch: Wine prefix"
  scripts/wine-rig start "$arch" "$prefix"
  rig_started+=("$arch $prefix")
  # No update check in these runs: its question would stay open over the playlist.
  wine_cmd "$arch" "$prefix" wine reg add "$TUNELORE_SETTINGS_KEY" \
    /v 'Check updates' /t REG_DWORD /d 0 /f >/dev/null 2>&1

  # The reference service on loopback, reached through the prefix's proxy as on a user's
  # machine; each part gets its own, so that the end-to-end run's log holds only its lookups.
  start_service() {
    local name=$1
    rm -f "$results/$arch-$name-port"
    setsid python3 bench/timed_service.py --timing-log "$results/$arch-$name-service.log" --port 0 \
      --port-file "$results/$arch-$name-port" </dev/null >"$results/$arch-$name-service.out" 2>&1 &
    service_pid=$!
    for _ in $(seq 100); do
      [ -s "$results/$arch-$name-port" ] && break
      sleep 0.1
    done
    [ -s "$results/$arch-$name-port" ] || { cat "$results/$arch-$name-service.out" >&2; exit 1; }
    wine_cmd "$arch" "$prefix" wine reg add "$TUNELORE_INTERNET_SETTINGS" /v ProxyServer \
      /d "127.0.0.1:$(cat "$results/$arch-$name-port")" /f >/dev/null 2>&1
  }

  step "$arch: tick"
  start_service tick
  scripts/wine-run "$arch" "$prefix" "$build/bench/tick_bench.exe" --lookup >"$results/$arch-tick.txt"
  wine_cmd "$arch" "$prefix" wine reg add "$TUNELORE_INTERNET_SETTINGS" /v ProxyServer /d "$TUNELORE_NULL_PROXY" /f >/dev/null 2>&1
  stop_service

  step "$arch: start-up and teardown"
  scripts/wine-run "$arch" "$prefix" "$build/bench/load_bench.exe" \
    "$(winpath "$(plugin_dll "$build")")" "$(winpath "$build/bench/Empty-Bench.dll")" \
    >"$results/$arch-load.txt"

  step "$arch: end to end through the player simulator"
  start_service e2e
  scripts/wine-run "$arch" "$prefix" "$(player_sim "$build")" --quiet \
    --dll "$(winpath "$(plugin_dll "$build")")" --json "$(winpath "$results/$arch-e2e.jsonl")" \
    "$(winpath "$TUNELORE_SOURCE_DIR/bench/e2e_playlist.txt")" || echo "the simulator ended with $?" >&2
  # Back to the port where nothing listens.
  wine_cmd "$arch" "$prefix" wine reg add "$TUNELORE_INTERNET_SETTINGS" /v ProxyServer /d "$TUNELORE_NULL_PROXY" /f >/dev/null 2>&1
  stop_service

  scripts/wine-rig stop "$arch" "$prefix"
  rig_started=("${rig_started[@]:0:${#rig_started[@]}-1}")
}

run_windows win64
if [ "$(wine32_mode)" = native ]; then
  run_windows win32
else
  # Timings under emulation would measure the emulator; the 32-bit DLL's size still counts.
  echo "win32: not timed: this machine runs no 32-bit programs" | tee "$results/win32-not-run.txt" >&2
fi
scripts/wine-rig unmount

step "table"
python3 bench/report.py "$results" "$TUNELORE_SOURCE_DIR/build/bench-win32" "$TUNELORE_SOURCE_DIR/build/bench-win64" \
  | tee "$results/table.txt"
