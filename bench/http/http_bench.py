"""The HTTP API under load: rates and latencies, the agent's CPU and memory.

Usage: http_bench.py AGENT LOAD_GENERATOR
Runs the Linux agent on the simulation server in fresh folders (as the
end-to-end tests do) and drives it with the load generator over 127.0.0.1.
Environment (defaults in brackets):
  LEVEL_SECONDS [3]    measured seconds per concurrency level
  IDLE_SECONDS [10]    idle window for the agent's own CPU use
  RSS_REQUESTS [100000] requests between the two memory readings
  IDLE_CONNECTIONS [500] silent connections held open beside ordinary requests
"""
import os
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
import harness  # noqa: E402

agent_path, load_path = sys.argv[1], sys.argv[2]
harness.AGENT = agent_path
SECONDS = float(os.environ.get("LEVEL_SECONDS", "3"))
IDLE_SECONDS = float(os.environ.get("IDLE_SECONDS", "10"))
RSS_REQUESTS = int(os.environ.get("RSS_REQUESTS", "100000"))
IDLE_CONNECTIONS = int(os.environ.get("IDLE_CONNECTIONS", "500"))
CONCURRENCY = (1, 8, 64)
TICKS = os.sysconf("SC_CLK_TCK")

# Ten items on one device; the demo's six and four more of the same kinds.
ITEMS = [
    ("Level", "VT_R8,sine,50,60"), ("Count", "VT_I4,ramp,0,1000,1"),
    ("Setpoint", "VT_R4,static,2.5"), ("Name", "VT_BSTR,static,pump one"),
    ("Running", "VT_BOOL,toggle"), ("Serial", "VT_I4,static-ro,1234"),
    ("Pressure", "VT_R8,sine,4,30"), ("Flow", "VT_R4,static,12.5"),
    ("Total", "VT_I4,ramp,0,100000,7"), ("Alarm", "VT_BOOL,toggle"),
]
TAGS = [name for name, _ in ITEMS]


def simulation(delay_ms):
    lines = ["[server]", "progid=Talvero.Simulation.1", "name=Talvero Simulation Server",
             "others=", "fail=", "delay=%d" % delay_ms, "", "[items]"]
    lines += ["Channel1.Device1.%s=%s" % item for item in ITEMS]
    return "\n".join(lines) + "\n"


QUERY_A = "?c=10"
QUERY_B = "?c=30&group=Channel1&item=Device1&tags=" + ",".join(TAGS)
KINDS = (("a", "c=10 (answered by the HTTP layer)", QUERY_A),
         ("b", "c=30 reading 10 tags through the bridge", QUERY_B))


def cpu_seconds(pid):
    """User plus system CPU time of the whole process (all its threads, ended ones too)."""
    with open("/proc/%d/stat" % pid) as handle:
        fields = handle.read().rsplit(")", 1)[1].split()
    # fields[0] is the state (field 3); utime and stime are fields 14 and 15.
    return (int(fields[11]) + int(fields[12])) / TICKS


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as handle:
        for line in handle:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def threads(pid):
    return len(os.listdir("/proc/%d/task" % pid))


def load(port, concurrency, query, requests=None, seconds=None, expect=None):
    command = [load_path, str(port), str(concurrency)]
    command += ["--requests", str(requests)] if requests else ["--seconds", str(seconds)]
    command.append(query)
    if expect is not None:
        command.append(expect)
    return command


def parse(line):
    return {key: float(value) for key, value in (part.split("=") for part in line.split())}


def run_load(*args, **kwargs):
    result = subprocess.run(load(*args, **kwargs), stdout=subprocess.PIPE, check=True)
    return parse(result.stdout.decode())


def verdict(ok):
    return "PASS" if ok else "MISS"


def start_agent(delay_ms):
    port = harness.free_port()
    folder = harness.AgentFolder(config={"HTTP": {"port": str(port)}},
                                 tags="\n".join(TAGS) + "\n", simulation=simulation(delay_ms))
    agent = folder.start()
    agent.wait_for("The http server started on port", timeout=30)
    agent.wait_for("Items update completed!", timeout=30)
    return folder, agent, port


summary = []

# --- agent on the plain simulation server ------------------------------------
folder, agent, port = start_agent(0)
try:
    pid = agent.pid
    first = run_load(port, 1, QUERY_B, requests=1)
    if first["errors"]:
        raise SystemExit("the agent did not answer a read of the ten tags with data")

    time.sleep(1.0)
    before = cpu_seconds(pid)
    time.sleep(IDLE_SECONDS)
    idle = (cpu_seconds(pid) - before) / IDLE_SECONDS * 100
    print("idle agent: %.2f%% of one core over %.0f s (%.0f ms CPU, %d threads, VmRSS %d KiB)"
          % (idle, IDLE_SECONDS, idle * IDLE_SECONDS * 10, threads(pid), rss_kib(pid)))
    summary.append(("idle agent CPU < 2%% of one core: %.2f%%" % idle, idle < 2.0))

    print()
    print("one TCP connection per request, 127.0.0.1, %.0f s per level (after 0.5 s warm-up)"
          % SECONDS)
    print("%-4s %5s %10s %9s %9s %7s %11s %10s %10s"
          % ("kind", "conc", "req/s", "p50 ms", "p99 ms", "errors", "agent CPU", "CPU us/req",
             "VmRSS KiB"))
    figures = {}
    for kind, _, query in KINDS:
        for concurrency in CONCURRENCY:
            run_load(port, concurrency, query, seconds=0.5)
            cpu_before = cpu_seconds(pid)
            result = run_load(port, concurrency, query, seconds=SECONDS)
            cpu = cpu_seconds(pid) - cpu_before
            figures[(kind, concurrency)] = result
            print("%-4s %5d %10.0f %9.3f %9.3f %7d %10.0f%% %10.1f %10d"
                  % (kind, concurrency, result["rps"], result["p50_ms"], result["p99_ms"],
                     result["errors"], cpu / result["seconds"] * 100,
                     cpu / max(result["requests"], 1) * 1e6, rss_kib(pid)))
    for kind, text, _ in KINDS:
        print("  %s: %s" % (kind, text))
    print("  agent CPU: the agent's user+system time over the level's wall time (100%% = one"
          " core), from /proc/<pid>/stat in steps of %.0f ms" % (1000.0 / TICKS))

    print()
    print("(a) and (b) side by side, (b)/(a) the bridge's share of the HTTP path's figure")
    print("%5s %10s %10s %7s %10s %10s %7s" % ("conc", "(a) req/s", "(b) req/s", "(b)/(a)",
                                              "(a) p50", "(b) p50", "(b)/(a)"))
    for concurrency in CONCURRENCY:
        a, b = figures[("a", concurrency)], figures[("b", concurrency)]
        print("%5d %10.0f %10.0f %7.2f %10.3f %10.3f %7.2f"
              % (concurrency, a["rps"], b["rps"], b["rps"] / max(a["rps"], 1e-9),
                 a["p50_ms"], b["p50_ms"], b["p50_ms"] / max(a["p50_ms"], 1e-9)))

    b8, b1, a8 = figures[("b", 8)], figures[("b", 1)], figures[("a", 8)]
    summary.append(("(b) at concurrency 8 >= 5000 req/s: %.0f req/s" % b8["rps"],
                    b8["rps"] >= 5000))
    summary.append(("(b) at concurrency 1 p50 <= 0.3 ms: %.3f ms" % b1["p50_ms"],
                    b1["p50_ms"] <= 0.3))
    summary.append(("(a) at concurrency 8 >= 8000 req/s: %.0f req/s" % a8["rps"], a8["rps"] >= 8000))

    # Memory: a warm-up of the same mix, then the measured requests; nine in
    # ten answered by the HTTP layer, one in ten read through the bridge.
    bridge_share = RSS_REQUESTS // 10
    run_load(port, 8, QUERY_A, requests=max(RSS_REQUESTS // 10 - RSS_REQUESTS // 100, 1))
    run_load(port, 8, QUERY_B, requests=max(RSS_REQUESTS // 100, 1))
    time.sleep(0.2)
    rss_before = rss_kib(pid)
    start = time.monotonic()
    a = run_load(port, 8, QUERY_A, requests=RSS_REQUESTS - bridge_share)
    b = run_load(port, 8, QUERY_B, requests=bridge_share)
    elapsed = time.monotonic() - start
    time.sleep(0.2)
    rss_after = rss_kib(pid)
    growth = rss_after - rss_before
    print()
    print("memory over %d requests (%d c=10, %d c=30) at concurrency 8 in %.1f s, %d errors:"
          % (a["requests"] + b["requests"], a["requests"], b["requests"], elapsed,
             a["errors"] + b["errors"]))
    print("  VmRSS after warm-up %d KiB, after the requests %d KiB, growth %+d KiB"
          % (rss_before, rss_after, growth))
    summary.append(("VmRSS growth < 1 MiB over %d requests: %+d KiB" % (RSS_REQUESTS, growth),
                    growth < 1024))

    # A flood of connections that never send a byte, then ordinary requests
    # beside them: the idle ones must not hold the answer back.
    idle_connections = []
    for _ in range(IDLE_CONNECTIONS):
        idle_connections.append(socket.create_connection(("127.0.0.1", port), timeout=5))
    beside = run_load(port, 1, QUERY_A, requests=20)
    for connection in idle_connections:
        connection.close()
    print()
    print("%d idle connections open: 20 requests (c=10) one after another, p50 %.3f ms, "
          "max %.3f ms, %d errors" % (IDLE_CONNECTIONS, beside["p50_ms"], beside["max_ms"],
                                      beside["errors"]))
    summary.append(("%d idle connections delay a request < 100 ms: max %.3f ms"
                    % (IDLE_CONNECTIONS, beside["max_ms"]),
                    beside["max_ms"] < 100 and not beside["errors"]))
finally:
    folder.cleanup()

# --- agent whose device reads take 5 s ---------------------------------------
folder, agent, port = start_agent(5000)
try:
    pid = agent.pid
    waiting = subprocess.Popen(load(port, 64, QUERY_B, requests=64), stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
    # The first read holds the worker for 5 s; measure well inside that wait.
    time.sleep(0.5)
    cpu_before, start = cpu_seconds(pid), time.monotonic()
    time.sleep(4.0)
    cpu = cpu_seconds(pid) - cpu_before
    share = cpu / (time.monotonic() - start) * 100
    busy_threads = threads(pid)
    ended = parse(waiting.communicate()[0].decode())
    print()
    print("64 clients waiting on a 5 s device read: agent %.2f%% of one core over 4 s "
          "(%.0f ms CPU, %d threads)" % (share, cpu * 1000, busy_threads))
    # One read at a time: the second ends near the 10 s limit, the rest time out.
    print("  afterwards %d answered with data, %d with TimeOut or otherwise, within %.1f s"
          % (ended["requests"], ended["errors"], time.monotonic() - start + 0.5))
    summary.append(("64 waiting clients < 5%% of one core: %.2f%%" % share, share < 5.0))
finally:
    folder.cleanup()

print()
print("targets (informational):")
for text, ok in summary:
    print("  %s  %s" % (verdict(ok), text))
