#!/usr/bin/env python3
"""run-peers.py: the runs and the table of tools/bench-peers.sh (which builds what it needs).

    run-peers.py OUT_DIR RUNS LIMIT_SECONDS "SONGS" "PEERS" [remeasure] [BEFORE_BUILD]

A peer's figures are kept in OUT_DIR/peer-results.json and reused unless remeasure is given.
BEFORE_BUILD, a build tree of an earlier commit with its conversion benchmark, is timed in the same
run (its end_to_end) and shown beside, with how many times faster the conversion is now.

Tonflux's conversion is timed in process by the conversion benchmark (end_to_end: read the file,
convert it straight from its image into the file; model_end_to_end: the same through the song
model, the road before), as a peer's load is timed in process by its driver; the whole
tonflux-convert process, start and exit included, is shown beside it, with its own ratio to each
peer's load. Peak memory is each process's peak resident size (GNU time's %M).
"""
import json
import os
import resource
import signal
import subprocess
import sys
import time

out, runs, limit = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
songs, peers = sys.argv[4].split(), sys.argv[5].split()
remeasure = "remeasure" in sys.argv[6:]
before_build = next((a for a in sys.argv[6:] if a != "remeasure"), None)


def run(cmd):
    """(wall, cpu, peak KB, stdout) of one run; None when it failed, "timeout" when stopped."""
    start = time.monotonic()
    proc = subprocess.Popen(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, start_new_session=True)
    try:
        stdout, stderr = proc.communicate(timeout=limit)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        return "timeout"
    wall = time.monotonic() - start
    if proc.returncode != 0:
        return None
    peak = int(stderr.decode().strip().splitlines()[-1])
    return wall, peak, stdout.decode()


def children_cpu():
    """User and system seconds of every child waited for so far, grandchildren included."""
    u = resource.getrusage(resource.RUSAGE_CHILDREN)
    return u.ru_utime + u.ru_stime


def tonflux_in_process(build="build/bench"):
    """Best (wall, cpu) seconds of the benchmark's end-to-end conversions, by road and song."""
    r = subprocess.run([build + "/bench/tonflux_conversion_bench", "--songs=build/bench-songs",
                        "--out=" + out, "--no-peak",
                        "--benchmark_filter=^(model_)?end_to_end/(%s)$" % "|".join(songs),
                        "--benchmark_repetitions=%d" % runs, "--benchmark_format=json"],
                       capture_output=True, text=True)
    if r.returncode != 0:
        return {}
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    best = {}
    for b in json.loads(r.stdout)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        road, song = b["name"].split("/")[:2]
        wall, cpu = (b["real_time"] * scale[b["time_unit"]], b["cpu_time"] * scale[b["time_unit"]])
        old = best.get((road, song), (wall, cpu))
        best[road, song] = (min(old[0], wall), min(old[1], cpu))
    return best


def tonflux(song):
    before = children_cpu()
    r = run(["build/bench/cli/tonflux-convert", "-f", "-q", "-o",
             os.path.join(out, os.path.basename(song)[:-4] + ".mds"), song])
    if r in (None, "timeout"):
        return r
    wall, peak, _ = r
    return wall, children_cpu() - before, peak


DRIVERS = {
    "libsmf": lambda s: [os.path.join(out, "load-libsmf"), s],
    "portsmf": lambda s: [os.path.join(out, "load-portsmf"), s],
    "mido": lambda s: ["/usr/bin/python3", "tools/peers/load-mido.py", s],
}


def peer(name, song):
    r = run(DRIVERS[name](song))
    if r in (None, "timeout"):
        return r
    _, peak, stdout = r
    wall, cpu, _events = stdout.split()
    return float(wall), float(cpu), peak


def best(results):
    ok = [r for r in results if isinstance(r, tuple)]
    if not ok:
        return "timeout" if "timeout" in results else None
    return tuple(min(r[i] for r in ok) for i in range(3))


cache_path = os.path.join(out, "peer-results.json")
try:
    with open(cache_path) as f:
        cache = json.load(f)
except (OSError, ValueError):
    cache = {}
table = {}
in_process = tonflux_in_process()
before = tonflux_in_process(before_build) if before_build else {}
for s in songs:
    path = "build/bench-songs/%s.mid" % s
    table[s, "tonflux"] = best([tonflux(path) for _ in range(runs)])
    for p in peers:
        # A peer's figures depend only on the song: they are kept for the next table.
        key = "%s %s %d" % (s, p, os.path.getsize(path))
        if key in cache and not remeasure:
            table[s, p] = cache[key] if cache[key] is None or cache[key] == "timeout" else tuple(cache[key])
            continue
        results = []
        for _ in range(runs):
            r = peer(p, path)
            results.append(r)
            # A slow peer is not run again: one run of seconds already says all there is.
            if not isinstance(r, tuple) or r[0] > 10:
                break
        table[s, p] = cache[key] = best(results)
        with open(cache_path, "w") as f:
            json.dump(cache, f, indent=1)
        print("  %s %s: %s" % (s, p, table[s, p]), file=sys.stderr, flush=True)

print("\nTonflux's whole conversion beside each peer's load alone, best of %d runs" % runs)
print("(seconds wall / cpu; a ratio is how many times longer the peer's load takes than Tonflux's")
print("in-process conversion, the process ratio its cpu time over the whole tonflux-convert")
print("process's; the model's road is the conversion through the song model; peak is the peak")
print("resident memory over the input's size)\n")
head = ("| song | MB | Tonflux conversion | MB/s | model's road | MB/s | tonflux-convert process "
        "| peak | " + " | ".join("%s load | ratio | process ratio | peak" % p for p in peers) + " |")
if before_build:
    head = head.replace("| model's road |", "| before | faster | model's road |")
print(head)
print("|" + "---|" * (head.count("|") - 1))
for s in songs:
    path = "build/bench-songs/%s.mid" % s
    mb = os.path.getsize(path) / 1e6
    t, b = table[s, "tonflux"], in_process.get(("end_to_end", s))
    m = in_process.get(("model_end_to_end", s))
    if not isinstance(t, tuple) or not b or not m:
        print("| %s | %.2f | Tonflux failed |" % (s, mb))
        continue
    bw, bc = b
    row = "| %s | %.2f | %.3f / %.3f | %.0f / %.0f |" % (s, mb, bw, bc, mb / bw, mb / bc)
    if before_build:
        o = before.get(("end_to_end", s))
        row += " %.3f / %.3f | %.2fx / %.2fx |" % (o[0], o[1], o[0] / bw, o[1] / bc) if o else " | |"
    row += " %.3f / %.3f | %.0f / %.0f | %.3f / %.3f | %.1fx |" % (
        m[0], m[1], mb / m[0], mb / m[1], t[0], t[1], t[2] * 1024 / (mb * 1e6))
    for p in peers:
        r = table[s, p]
        if r == "timeout":
            row += " > %.0f s (stopped) | > %.0fx | > %.0fx | |" % (limit, limit / bw, limit / t[1])
        elif r is None:
            row += " failed | | | |"
        else:
            row += " %.3f / %.3f | %.1fx / %.1fx | %.1fx | %.1fx |" % (
                r[0], r[1], r[0] / bw, r[1] / bc, r[1] / t[1], r[2] * 1024 / (mb * 1e6))
    print(row)
