"""Drain of a spool backlog: the agent against a shell loop of curl."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
import harness  # noqa: E402
from forward_receiver import Receiver  # noqa: E402

agent_path, work = sys.argv[1], sys.argv[2]
count = int(os.environ.get("FILES", "10000"))
harness.AGENT = agent_path
record = '{"i":"Level","v":"%d.123456","t":1796771780},{"i":"Count","v":"%d","t":1796771780}'


def make_backlog(folder):
    os.makedirs(folder, exist_ok=True)
    first = 1700000000000
    for i in range(count):
        with open(os.path.join(folder, "%d.txt" % (first + i)), "w") as handle:
            handle.write(record % (i, i))


receiver = Receiver().start()
folder = harness.AgentFolder(config={"ITEMS": {"cf": "1"}, "APIS": {"api_host": receiver.url()}})
try:
    backlog = os.path.join(folder.data, "temp")
    make_backlog(backlog)
    names = set(n for n in os.listdir(backlog))
    agent = folder.start()
    harness.wait_until(lambda: receiver.snapshot(), 60, 0.001, "the first upload")
    start = time.monotonic()
    harness.wait_until(lambda: not (names & set(os.listdir(backlog))), 600, 0.01, "the drain")
    agent_seconds = time.monotonic() - start
    agent.kill()
finally:
    folder.cleanup()

# The curl loop pays a process start per file; it posts the first CURL_FILES
# of the same files so that the run stays within minutes.
curl_count = min(count, int(os.environ.get("CURL_FILES", "1000")))
curl_folder = os.path.join(work, "curl-backlog")
make_backlog(curl_folder)
for name in sorted(os.listdir(curl_folder))[curl_count:]:
    os.remove(os.path.join(curl_folder, name))
script = ('for f in "$1"/*.txt; do curl -s -o /dev/null -X POST -H "charset: UTF-8" '
          '-H "Content-Type: application/json" --data-binary "[$(cat "$f")]" "$2"; done')
start = time.monotonic()
subprocess.run(["bash", "-c", script, "loop", curl_folder, receiver.url()], check=True)
curl_seconds = time.monotonic() - start
receiver.stop()

agent_rate = count / agent_seconds
curl_rate = curl_count / curl_seconds
print("drain of %d spool files to a local receiver answering OK:" % count)
print("  agent      %8.1f files/s (%.2f s)" % (agent_rate, agent_seconds))
print("  curl loop  %8.1f files/s (%.2f s for %d files)" % (curl_rate, curl_seconds, curl_count))
print("  ratio      %8.1f x" % (agent_rate / curl_rate))
