#!/usr/bin/env bash
# Starts and stops the reference lyrics service around a test run. The service picks a free
# loopback port and writes it to STATE_DIR/port, where the tests read it.
#   fixture.sh start STATE_DIR [SERVICE ARGS...]
#   fixture.sh stop  STATE_DIR
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: fixture.sh start|stop STATE_DIR [SERVICE ARGS...]" >&2; exit 2; }
action=$1 dir=$2
shift 2
service="$(cd "$(dirname "$0")" && pwd)/lyrics_service.py"

# True while the given process runs the service (a zombie's command line is empty).
is_service() {
  [[ "$1" =~ ^[0-9]+$ ]] && tr '\0' ' ' <"/proc/$1/cmdline" 2>/dev/null | grep -qF "$service"
}

# Stops the service this directory's pid file names, and only if that process is the service.
stop_service() {
  local pid
  pid=$(cat "$dir/pid" 2>/dev/null) || return 0
  if is_service "$pid"; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      is_service "$pid" || break
      sleep 0.1
    done
  fi
  rm -f "$dir/pid" "$dir/port"
}

case "$action" in
  start)
    mkdir -p "$dir"
    stop_service  # one left behind by an interrupted run
    # Detached and with its output in a file: ctest waits for whatever holds its pipes.
    setsid "${PYTHON:-python3}" "$service" --port 0 --port-file "$dir/port" "$@" </dev/null >"$dir/service.log" 2>&1 &
    echo $! >"$dir/pid"
    for _ in $(seq 100); do
      [ -s "$dir/port" ] && { echo "lyrics service on 127.0.0.1:$(cat "$dir/port")"; exit 0; }
      kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
      sleep 0.1
    done
    echo "the lyrics service did not start:" >&2
    cat "$dir/service.log" >&2
    stop_service
    exit 1
    ;;
  stop)
    stop_service
    ;;
  *)
    echo "unknown action $action" >&2
    exit 2
    ;;
esac
