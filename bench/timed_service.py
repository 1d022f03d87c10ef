#!/usr/bin/env python3
"""The reference lyrics service with each request's service time written to a log.

Runs tools/lyrics_service/lyrics_service.py unchanged, with the same arguments, except that
every connection's handling (from accepting it to having answered) is timed and appended to
the file named by --timing-log as one line: method, target, milliseconds. The end-to-end
benchmark subtracts these times from the player's song switch to the icon's change, which
leaves the plug-in's own latency.
"""

import os
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "lyrics_service"))

import lyrics_service  # noqa: E402


def main(argv):
    if "--timing-log" not in argv[:-1]:
        sys.exit("usage: timed_service.py --timing-log FILE [lyrics service arguments]")
    at = argv.index("--timing-log")
    log_path = argv[at + 1]
    service_args = argv[:at] + argv[at + 2:]

    lock = threading.Lock()
    local = threading.local()
    read_request = lyrics_service.read_request

    def remembering_read_request(rfile):
        request = read_request(rfile)
        local.request = request
        return request

    class TimedHandler(lyrics_service.Handler):
        def handle(self):
            local.request = None
            start = time.perf_counter()
            try:
                super().handle()
            finally:
                elapsed_ms = (time.perf_counter() - start) * 1000
                request = local.request
                if request is not None:
                    with lock, open(log_path, "a", encoding="ascii", errors="replace") as log:
                        log.write(f"{request.method} {request.target} {elapsed_ms:.3f}\n")

    lyrics_service.read_request = remembering_read_request
    lyrics_service.Handler = TimedHandler
    return lyrics_service.main(service_args)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
