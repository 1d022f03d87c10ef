#!/usr/bin/env bash
# The main command: shows the plug-in at work on this machine. It sets up what is missing,
# builds the shipping 32-bit DLL and the player simulator, starts the reference lyrics service
# with its sample catalogue, points the Wine prefix's proxy at it, registers the DLL with the
# prefix's regsvr32, and runs the simulator on a sample playlist (a found song, a song not
# found, a pause and a resume, a video), which prints what a user would see. It ends by itself
# and leaves nothing running.
#   bash scripts/demo.sh                   headless, as everything here runs
#   bash scripts/demo.sh --screenshot FILE also a PNG of the icon and its balloon, taken on a
#                                          virtual screen (Xvfb) with a Wine desktop
# TUNELORE_DEMO_PRESET=win64 runs the 64-bit twin instead; TUNELORE_DEMO_BUILD names another
# build directory than the preset's.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

screenshot=
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) [ $# -ge 2 ] || die "--screenshot needs a file name"; screenshot=$(realpath -m "$2"); shift 2 ;;
    *) die "usage: demo.sh [--screenshot FILE.png]" ;;
  esac
done

say() { printf '\n== %s\n' "$*"; }

say "set-up"
bash scripts/setup.sh
print_wine32_mode
# The shipping 32-bit DLL where the machine runs 32-bit programs; the 64-bit twin, the same
# plug-in built for x86-64, where it does not.
if [ -n "${TUNELORE_DEMO_PRESET:-}" ]; then
  preset=$TUNELORE_DEMO_PRESET
elif [ "$(wine32_mode)" = native ]; then
  preset=win32
else
  preset=win64
  echo "This machine runs no 32-bit programs: the demo shows the 64-bit twin of the plug-in, Tunelore-WMP.dll"
  echo "built for x86-64, in the 64-bit player simulator (set TUNELORE_DEMO_PRESET=win32 to insist)."
fi
arch=$preset
build=$(realpath -m "${TUNELORE_DEMO_BUILD:-build/$preset}")
prefix=$(wine_prefix "$build")
state=$build/demo
playlist=tools/player_sim/playlists/demo.txt
# The balloon stays long enough on a screen to be pictured.
balloon_timeout=3
[ -n "$screenshot" ] && { prefix=$(wine_prefix "$state"); balloon_timeout=6; }

wine_in() { wine_cmd "$arch" "$prefix" wine "$@"; }
reg_set() { wine_in reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null; }

registered=0 rig=0 xvfb_pid=
cleanup() {
  local status=$?
  set +e
  if [ "$registered" = 1 ]; then
    wine_in regsvr32 /s /u "$(winpath "$(plugin_dll "$build")")" && echo "unregistered the plug-in"
  fi
  if [ "$rig" = 1 ]; then
    # Back to the port where nothing listens, as the tests expect the prefix.
    reg_set "$TUNELORE_INTERNET_SETTINGS" ProxyServer REG_SZ "$TUNELORE_NULL_PROXY"
    scripts/wine-rig stop "$arch" "$prefix"
  fi
  bash tools/lyrics_service/fixture.sh stop "$state/service" >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  [ "$arch" = win32 ] && scripts/wine-rig unmount
  exit $status
}
trap cleanup EXIT
# Interrupted, it still leaves no wineserver, service or mount behind.
trap 'exit 130' INT
trap 'exit 143' TERM

say "build ($preset): the plug-in DLL and the player simulator"
cmake --preset "$preset" -B "$build" >/dev/null
cmake --build "$build" --target tunelore_dll tunelore-player-sim

say "the reference lyrics service with its sample catalogue"
mkdir -p "$state"
bash tools/lyrics_service/fixture.sh start "$state/service"
port=$(cat "$state/service/port")

say "the Wine prefix ($arch)"
if [ -n "$screenshot" ]; then
  # A virtual screen: the first free display number.
  display=90
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$state/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  export DISPLAY=":$display"
fi
scripts/wine-rig start "$arch" "$prefix"
rig=1
if [ -n "$screenshot" ]; then
  # This prefix draws on the virtual screen; the server restarts to take the driver.
  reg_set "$TUNELORE_WINE_DRIVERS_KEY" Graphics REG_SZ x11
  scripts/wine-rig stop "$arch" "$prefix"
  scripts/wine-rig start "$arch" "$prefix"
fi
reg_set "$TUNELORE_INTERNET_SETTINGS" ProxyEnable REG_DWORD 1
reg_set "$TUNELORE_INTERNET_SETTINGS" ProxyServer REG_SZ "127.0.0.1:$port"
echo "WinINet's proxy is 127.0.0.1:$port, the lyrics service"
# Balloons on and short, and no update check made yet, so that the first tick makes one.
wine_in reg delete "$TUNELORE_SETTINGS_KEY" /f >/dev/null 2>&1 || true
reg_set "$TUNELORE_SETTINGS_KEY" "Tip enabled" REG_DWORD 1
reg_set "$TUNELORE_SETTINGS_KEY" "Check updates" REG_DWORD 1
reg_set "$TUNELORE_SETTINGS_KEY" "Balloon delay" REG_DWORD 1
reg_set "$TUNELORE_SETTINGS_KEY" "Balloon timeout" REG_DWORD "$balloon_timeout"
echo "settings: balloons on, 1 s after the lookup, for $balloon_timeout s"

say "regsvr32 $TUNELORE_DLL_NAME"
wine_in regsvr32 /s "$(winpath "$(plugin_dll "$build")")"
registered=1
echo "registered"

say "the player simulator plays $playlist"
sim=("$(winpath "$(player_sim "$build")")" --time-limit 45 --json "$(winpath "$state/transcript.jsonl")")
if [ -n "$screenshot" ]; then
  # Written inside the build tree, which 32-bit Wine's root sees at the same path, then copied.
  rm -f "$state/screenshot.png"
  sim+=(--screenshot "$(winpath "$state/screenshot.png")")
  # The simulator runs inside a Wine desktop whose taskbar has the notification area.
  timeout 60 bash -c 'source scripts/wine-env.sh; wine_cmd "$@"' _ "$arch" "$prefix" wine \
    explorer /desktop=shell,1024x768 "${sim[@]}" "$(winpath "$playlist")" </dev/null
else
  timeout 60 bash -c 'source scripts/wine-env.sh; wine_cmd "$@"' _ "$arch" "$prefix" wine \
    "${sim[@]}" "$(winpath "$playlist")" </dev/null
fi

say "what the lyrics service received"
python3 tools/lyrics_service/lyrics_service.py print-log "$port"
if [ -n "$screenshot" ]; then
  if [ -s "$state/screenshot.png" ]; then
    mkdir -p "$(dirname "$screenshot")"
    cp "$state/screenshot.png" "$screenshot"
    echo "screenshot: $screenshot"
  else
    echo "no screenshot was taken"
  fi
fi
echo
