#!/usr/bin/env python3
"""Prints the table of one benchmark run from the files that scripts/bench.sh gathered.

usage: report.py RESULTS_DIR BUILD_DIR_WIN32 BUILD_DIR_WIN64

RESULTS_DIR holds codec.json (Google Benchmark's JSON), and for each of win32 and win64:
ARCH-tick.txt and ARCH-load.txt ("key value" lines), ARCH-e2e.jsonl (the player simulator's
transcript) and ARCH-e2e-service.log (the timed service's "METHOD TARGET MILLISECONDS" lines),
plus loadavg-start.
"""

import json
import os
import platform
import re
import statistics
import subprocess
import sys

ARCHES = ("win32", "win64")
FOUND_TIP = "Lyrics found! Doubleclick to view"
NOT_FOUND_TIP = "Lyrics not found"
TICK_MS = 1000.0


def read_keys(path):
    values = {}
    if not os.path.exists(path):
        return values
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2:
                try:
                    values[parts[0]] = float(parts[1])
                except ValueError:
                    values[parts[0]] = parts[1]
    return values


def duration(ns):
    if ns is None:
        return "-"
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.1f} µs"
    return f"{ns:.1f} ns"


def ratio(value, base):
    if value is None or not base:
        return "-"
    return f"{value / base:.2f}x"


def table(header, rows):
    widths = [max(len(str(cell)) for cell in column) for column in zip(header, *rows)]
    lines = ["  " + "  ".join(str(cell).ljust(width) for cell, width in zip(header, widths)).rstrip()]
    for row in rows:
        lines.append("  " + "  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())
    return "\n".join(lines)


def first_line(command):
    try:
        return subprocess.run(command, capture_output=True, text=True, check=False).stdout.splitlines()[0]
    except (OSError, IndexError):
        return "?"


def machine(results):
    model = "?"
    with open("/proc/cpuinfo", encoding="utf-8") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo", encoding="utf-8") as f:
        memory_kb = int(f.readline().split()[1])
    load_start = open(os.path.join(results, "loadavg-start"), encoding="ascii").read().split()[:3] \
        if os.path.exists(os.path.join(results, "loadavg-start")) else ["?"]
    load_end = open("/proc/loadavg", encoding="ascii").read().split()[:3]
    return [
        f"Machine: {model}, {os.cpu_count()} cores, {memory_kb / 1024 / 1024:.0f} GiB, "
        f"Linux {platform.release()}",
        f"Load average (1, 5, 15 min): {' '.join(load_start)} at the start, {' '.join(load_end)} at the end",
        f"Toolchain: {first_line(['i686-w64-mingw32-g++-posix', '--version'])}; "
        f"{first_line(['/usr/lib/wine/wine64', '--version'])}; native {first_line(['c++', '--version'])}",
    ]


def section_tick_playing(ticks):
    rows = []
    for attributes in (10, 30, 100):
        for arch in ARCHES:
            values = ticks[arch]
            key = f"playing.{attributes}."
            poll, floor = values.get(key + "tick_ns"), values.get(key + "floor_ns")
            same = values.get(key + "player_calls") == values.get(key + "floor_calls")
            rows.append([attributes, arch, duration(poll), duration(floor), ratio(poll, floor),
                         f"{values.get(key + 'player_calls', 0):.0f}" + ("" if same else " (floor differs!)")])
    return ("1. Tick cost while playing, the same item on the fake player: the whole tick as the window\n"
            "   receives it, against its delivery to a subclassed \"Static\" window plus the player calls the\n"
            "   capture must make, counted to be the same (median time per tick, interleaved batches)\n" +
            table(["attributes", "arch", "tick", "delivery + player calls", "ratio", "player calls/tick"], rows))


def section_tick_idle(ticks):
    rows = []
    for state, floor_name in (("stopped", "delivery + get_playState"), ("idle", "delivery")):
        for arch in ARCHES:
            values = ticks[arch]
            tick, floor = values.get(state + ".tick_ns"), values.get(state + ".floor_ns")
            rows.append([state, arch, duration(tick), f"{duration(floor)} ({floor_name})", ratio(tick, floor),
                         f"{values.get(state + '.shell_calls_per_minute', float('nan')):.0f}",
                         f"{values.get(state + '.player_calls_per_minute', float('nan')):.0f}"])
    return ("2. Tick cost while stopped (player object, player stopped) and idle (no player object): the whole\n"
            "   tick as the window receives it, against the delivery of a WM_TIMER to a subclassed \"Static\"\n"
            "   window (and the one player call that finds the player stopped);\n"
            "   calls per idle minute counted over 60 ticks (shell: a counting stand-in, not the real shell)\n" +
            table(["state", "arch", "tick", "floor", "ratio", "shell calls/min", "player calls/min"], rows))


def section_lookup(ticks):
    rows = []
    for arch in ARCHES:
        values = ticks[arch]
        tick, floor = values.get("lookup.tick_ns"), values.get("lookup.floor_ns")
        rows.append([arch, duration(tick), duration(floor), ratio(tick, floor),
                     f"{values.get('lookup.found_share', float('nan')):.2f}",
                     f"{values.get('lookup.floor_reply_share', float('nan')):.2f}"])
    return ("2b. Lookup: a tick that finds a new song, posts it to the reference service (through the\n"
            "   prefix's proxy, on loopback) and ends with the found tooltip, against the same WinINet calls\n"
            "   made directly with the same form (median of 15 interleaved batches)\n" +
            table(["arch", "tick to tooltip", "bare WinINet", "ratio", "found share", "bare replies share"], rows))


# What each figure is held to: a bound on its ratio to the floor, or on the size in KiB.
RATIO_GOALS = [("tick while playing, 10 attributes", "playing.10.tick_ns", "playing.10.floor_ns", 1.1),
               ("tick while playing, 30 attributes", "playing.30.tick_ns", "playing.30.floor_ns", 1.1),
               ("tick while playing, 100 attributes", "playing.100.tick_ns", "playing.100.floor_ns", 1.1),
               ("tick while stopped", "stopped.tick_ns", "stopped.floor_ns", 3.0),
               ("lookup, tick to tooltip", "lookup.tick_ns", "lookup.floor_ns", 1.1)]
SIZE_GOALS_KIB = {"win32": 150, "win64": 170}


def section_summary(ticks, loads, builds, ran):
    rows = []
    for arch in ARCHES:
        if arch not in ran:
            continue
        for label, now_key, floor_key, goal in RATIO_GOALS:
            now, floor = ticks[arch].get(now_key), ticks[arch].get(floor_key)
            met = "yes" if now and floor and now / floor <= goal else "NO"
            rows.append([label, arch, duration(now), duration(floor), ratio(now, floor), f"<= {goal:g}x", met])
        now, floor = loads[arch].get("load.plugin.cycle_us"), loads[arch].get("load.empty.cycle_us")
        met = "yes" if now and floor and now / floor <= 3.0 else "NO"
        rows.append(["load + first tick + unload", arch, duration((now or 0) * 1e3), duration((floor or 0) * 1e3),
                     ratio(now, floor), "<= 3x", met])
    for arch in ARCHES:
        plugin = os.path.join(builds[arch], "plugin", "Tunelore-WMP.dll")
        if not os.path.exists(plugin):
            continue
        size = os.path.getsize(plugin) / 1024
        rows.append(["stripped DLL size", arch, f"{size:.1f} KiB", "-", "-", f"<= {SIZE_GOALS_KIB[arch]} KiB",
                     "yes" if size <= SIZE_GOALS_KIB[arch] else "NO"])
    return ("0. Each figure beside its floor, measured side by side in this run\n" +
            table(["figure", "arch", "now", "floor", "ratio", "goal", "met"], rows))


def section_codec(results):
    path = os.path.join(results, "codec.json")
    if not os.path.exists(path):
        return "3. Codec throughput: no results"
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    medians = {b["run_name"]: b for b in data["benchmarks"] if b.get("aggregate_name") == "median"}
    rows = []
    for ours, theirs, label in (("EncodeForm", "CurlEscapeForm", "encodeForm"),
                                ("ParseReply", "CurlEscapeReply", "parseReply")):
        for size in ("realistic", "large"):
            mine, curl = medians.get(f"{ours}/{size}"), medians.get(f"{theirs}/{size}")
            if not mine or not curl:
                continue
            input_bytes = mine["bytes_per_second"] * mine["cpu_time"] * 1e-9
            rows.append([label, size, f"{input_bytes:,.0f}", f"{mine['bytes_per_second'] / 1e6:.1f}",
                         duration(mine["cpu_time"]),
                         f"{curl['bytes_per_second'] / 1e6:.1f}", ratio(mine["bytes_per_second"],
                                                                       curl["bytes_per_second"])])
    context = data.get("context", {})
    reps = next((b.get("repetitions") for b in data["benchmarks"] if b.get("repetitions")), "?")
    return ("3. Codec throughput, native (Google Benchmark, MB/s of input over CPU time, median of "
            f"{reps} interleaved runs;\n   libcurl {curl_version()} curl_easy_escape over the same bytes; "
            f"{context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz)\n"
            "   realistic: a song's 7-field request, the service's title-and-url reply; large: the 7 fields\n"
            "   with values of 150 KiB of mixed text, and that reply repeated to 1 MiB\n" +
            table(["codec", "input", "bytes", "MB/s", "per call", "curl_easy_escape MB/s", "ratio"], rows))


def curl_version():
    text = first_line(["curl-config", "--version"])
    return text.replace("libcurl ", "") if text != "?" else "?"


def section_load(loads):
    rows = []
    for arch in ARCHES:
        values = loads[arch]
        rows.append([arch, "load", duration(values.get("load.plugin.load_us", 0) * 1e3),
                     duration(values.get("load.empty.load_us", 0) * 1e3),
                     ratio(values.get("load.plugin.load_us"), values.get("load.empty.load_us")),
                     duration(values.get("load.plugin.first_load_us", 0) * 1e3),
                     f"{values.get('load.plugin.startup_shell_calls', float('nan')):.0f}"])
        rows.append([arch, "first tick", duration(values.get("load.plugin.tick_us", 0) * 1e3),
                     duration(values.get("load.empty.tick_us", 0) * 1e3),
                     ratio(values.get("load.plugin.tick_us"), values.get("load.empty.tick_us")), "-", "-"])
        rows.append([arch, "unload", duration(values.get("load.plugin.unload_us", 0) * 1e3),
                     duration(values.get("load.empty.unload_us", 0) * 1e3),
                     ratio(values.get("load.plugin.unload_us"), values.get("load.empty.unload_us")), "-",
                     f"{values.get('load.plugin.teardown_shell_calls', float('nan')):.0f}"])
        rows.append([arch, "whole cycle", duration(values.get("load.plugin.cycle_us", 0) * 1e3),
                     duration(values.get("load.empty.cycle_us", 0) * 1e3),
                     ratio(values.get("load.plugin.cycle_us"), values.get("load.empty.cycle_us")), "-", "-"])
    memory = []
    for arch in ARCHES:
        values = loads[arch]
        memory.append([arch, f"{values.get('load.plugin.image_kb', 0):.0f} KiB",
                       f"{values.get('load.empty.image_kb', 0):.0f} KiB",
                       f"{values.get('load.plugin.private_kb', 0):.0f} KiB",
                       f"{values.get('load.plugin.first_load_image_kb', 0):.0f} KiB",
                       f"{values.get('load.plugin.kept_private_kb_per_cycle', 0):.1f} KiB",
                       f"{values.get('load.empty.kept_private_kb_per_cycle', 0):.1f} KiB",
                       "yes" if values.get("load.plugin.unloaded") == 1 else "NO"])
    return ("4. Start-up and teardown: LoadLibrary, first tick, FreeLibrary of Tunelore-WMP.dll (settings read,\n"
            "   window, tick and icon created; saved and removed) against an empty DLL of the same build with\n"
            "   an entry point and the four exports; each step's median and the whole cycle's, of 31\n"
            "   interleaved cycles with the DLLs it imports already in the process, as in the player\n" +
            table(["arch", "step", "Tunelore-WMP.dll", "empty DLL", "ratio", "first load (cold)", "shell calls"],
                  rows) +
            "\n   Memory committed by a load (address-space walk):\n" +
            table(["arch", "image", "empty image", "private", "cold load images", "kept per cycle",
                   "empty kept/cycle", "unloads"], memory))


def imports(path, objdump):
    result = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=False).stdout
    dlls, current = {}, None
    in_table = False
    for line in result.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            current = match.group(1).lower()
            dlls[current] = 0
            in_table = False
            continue
        if current and "Hint/Ord" in line:
            in_table = True
            continue
        if current and in_table:
            if not line.strip():
                current, in_table = None, False
            else:
                dlls[current] += 1
    return dlls


def section_size(builds):
    rows = []
    for arch in ARCHES:
        build = builds[arch]
        plugin = os.path.join(build, "plugin", "Tunelore-WMP.dll")
        empty = os.path.join(build, "bench", "Empty-Bench.dll")
        if not os.path.exists(plugin) or not os.path.exists(empty):
            continue
        table_of = imports(plugin, "x86_64-w64-mingw32-objdump")
        listed = ", ".join(f"{name.removesuffix('.dll')} {count}" for name, count in sorted(table_of.items()))
        empty_imports = imports(empty, "x86_64-w64-mingw32-objdump")
        rows.append([arch, f"{os.path.getsize(plugin) / 1024:.1f} KiB", f"{os.path.getsize(empty) / 1024:.1f} KiB",
                     ratio(os.path.getsize(plugin), os.path.getsize(empty)),
                     f"{len(table_of)} DLLs, {sum(table_of.values())} functions: {listed}",
                     f"{len(empty_imports)} DLLs, {sum(empty_imports.values())} functions"])
    return ("5. Size of the stripped DLLs and their imports (DLL and number of functions)\n" +
            table(["arch", "Tunelore-WMP.dll", "empty DLL", "ratio", "imports", "empty DLL imports"], rows))


def end_to_end(results, arch):
    transcript = os.path.join(results, f"{arch}-e2e.jsonl")
    service_log = os.path.join(results, f"{arch}-e2e-service.log")
    if not os.path.exists(transcript) or not os.path.exists(service_log):
        return None
    events = []
    with open(transcript, encoding="utf-8") as f:
        for line in f:
            if line.strip():
                events.append(json.loads(line))
    with open(service_log, encoding="ascii", errors="replace") as f:
        service_ms = [float(line.split()[-1]) for line in f if line.startswith("POST ")]

    switches = []
    pending = None
    for event in events:
        if event.get("event") == "play-state" and event.get("state") == "playing" and event.get("title"):
            pending = event
        elif event.get("event") == "icon" and pending and event.get("tip") in (FOUND_TIP, NOT_FOUND_TIP):
            switches.append((pending, event))
            pending = None
    if len(switches) != len(service_ms):
        return {"error": f"{len(switches)} song switches but {len(service_ms)} lookups at the service"}

    rows = []
    for (switch, change), service in zip(switches, service_ms):
        total_ms = (change["t"] - switch["t"]) * 1000
        rows.append({"found": change["tip"] == FOUND_TIP, "total": total_ms, "service": service,
                     "own": total_ms - service, "ticks": change["polls"] - switch["polls"]})
    return {"rows": rows}


def section_end_to_end(results):
    lines = []
    summary = []
    for arch in ARCHES:
        outcome = end_to_end(results, arch)
        if outcome is None:
            lines.append(f"   {arch}: no run")
            continue
        if "error" in outcome:
            lines.append(f"   {arch}: {outcome['error']}")
            continue
        for label, chosen in (("found", [r for r in outcome["rows"] if r["found"]]), ("all", outcome["rows"])):
            if not chosen:
                continue
            own = [r["own"] for r in chosen]
            summary.append([arch, label, len(chosen),
                            f"{statistics.mean(r['total'] for r in chosen):.0f} / {max(r['total'] for r in chosen):.0f}",
                            f"{statistics.mean(r['service'] for r in chosen):.2f} / {max(r['service'] for r in chosen):.2f}",
                            f"{statistics.mean(own):.0f} / {min(own):.0f} / {max(own):.0f}",
                            f"{max(own) / TICK_MS:.2f}",
                            f"{sum(1 for r in chosen if r['ticks'] == 1)}/{len(chosen)}"])
    text = ("6. End to end: the simulator's switch to a new song to the icon's new tooltip, against the time the\n"
            "   reference service took for that lookup (ms; the difference is the plug-in's own latency;\n"
            "   songs it knows alternate with songs it does not, at every phase of the tick)\n")
    if summary:
        text += table(["arch", "songs", "n", "switch→tooltip mean / max", "service mean / max",
                       "own mean / min / max", "own max / tick", "on the first tick"], summary)
    if lines:
        text += "\n" + "\n".join(lines)
    return text


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    results, build32, build64 = argv
    builds = {"win32": build32, "win64": build64}
    ticks = {arch: read_keys(os.path.join(results, f"{arch}-tick.txt")) for arch in ARCHES}
    loads = {arch: read_keys(os.path.join(results, f"{arch}-load.txt")) for arch in ARCHES}
    print("Tunelore: what the plug-in costs the player, one run")
    print("\n".join(machine(results)))
    print("The Windows parts run under Wine (win64: 64-bit Wine on the machine; win32, the shipping build:")
    print("32-bit Wine in its Debian root), timed with the wall clock; the native part with CPU time.")
    ran = [arch for arch in ARCHES if not os.path.exists(os.path.join(results, f"{arch}-not-run.txt"))]
    for section in (section_summary(ticks, loads, builds, ran), section_tick_playing(ticks),
                    section_tick_idle(ticks), section_lookup(ticks), section_codec(results),
                    section_load(loads), section_size(builds), section_end_to_end(results)):
        print()
        print(section)
    for arch in ARCHES:
        if arch not in ran:
            print(f"\n{arch}: not timed, this machine runs no 32-bit programs (sizes above still hold)")
    failed = [arch for arch in ran if ticks[arch].get("tick_bench.ok") != 1]
    if failed:
        print(f"\nThe tick benchmark's own checks failed on: {', '.join(failed)}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
