#!/bin/sh
# Link launcher: runs a link line with another compiler driver, so that the driver's own
# runtime libraries are the ones linked.
#   link-with-runtime.sh DRIVER ORIGINAL-DRIVER ARGS...
driver=$1
shift 2
exec "$driver" "$@"
