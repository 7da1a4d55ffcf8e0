"""Runs the real agent executable in a fresh folder, as a user would.

The agent under test is named by the environment:
  TALVERO_AGENT  path of talvero-agent (Linux) or talvero-agent.exe (Windows,
                 run under Wine with the prefix of scripts/wine-run).
Every process started here is ended by its PID.
"""
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
AGENT = os.environ.get("TALVERO_AGENT", os.path.join(REPO, "build", "talvero-agent"))
IS_WINDOWS = AGENT.endswith(".exe")
WINE_RUN = os.path.join(REPO, "scripts", "wine-run")
# Wine's own error lines only, for the error output of the programs it runs.
WINE_ERRORS_SHOWN = "-all,err+all"

DEFAULT_CONFIG = {
    "SERVER": {"host": "127.0.0.1", "isautorun": "0", "isremote": "0"},
    "ITEMS": {"progid": "Talvero.Simulation.1", "group": "Channel1", "item": "Device1",
              "autoitems": "0", "itemscf": "60", "cf": "10", "showread": "0"},
    "APIS": {"api_host": ""},
    "HTTP": {"allowip": "", "key": "", "port": "0"},
}

DEFAULT_SIMULATION = """[server]
progid=Talvero.Simulation.1
name=Talvero Simulation Server
others=
fail=
delay=0

[items]
Channel1.Device1.Level=VT_R8,sine,50,60
Channel1.Device1.Count=VT_I4,ramp,0,1000,1
Channel1.Device1.Setpoint=VT_R4,static,2.5
Channel1.Device1.Name=VT_BSTR,static,pump one
Channel1.Device1.Running=VT_BOOL,toggle
Channel1.Device1.Serial=VT_I4,static-ro,1234
"""

DEFAULT_TAGS = "Level\nCount\nSetpoint\nName\nRunning\nSerial\n"


def api_exchange(port, query, timeout=20.0):
    """POSTs to the agent's API with query and no body on a fresh loopback
    connection; returns the whole answer as bytes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as conn:
        conn.sendall(b"POST /?" + query.encode() + b" HTTP/1.0\r\n\r\n")
        chunks = []
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
    return b"".join(chunks)


def api_post_text(port, query, timeout=20.0):
    """The same; returns the answer's body as text."""
    return api_exchange(port, query, timeout).partition(b"\r\n\r\n")[2].decode("utf-8")


def api_post(port, query, timeout=20.0):
    """The same, the body read as a JSON value. An answer that is no JSON
    fails the test with the answer and every running agent's console."""
    import json
    answer = api_exchange(port, query, timeout)
    try:
        return json.loads(answer.partition(b"\r\n\r\n")[2].decode("utf-8"))
    except ValueError:
        raise AssertionError("no JSON in the answer to %s on port %d: %r%s"
                             % (query, port, answer, running_agents_text())) from None


def _ephemeral_ports_start():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


def free_port():
    """A loopback port that is free now, for an agent to listen on.

    It is drawn from below the kernel's ephemeral range. Receivers bound to
    port 0 and the local ends of outgoing connections, in this test and in
    the test running beside it, take their ports from that range: one of them
    could take a port picked there before the agent binds it, and the test's
    requests would then reach a stranger."""
    low, high = 20000, _ephemeral_ports_start()
    if high - low >= 1000:
        for _ in range(100):
            port = random.randrange(low, high)
            with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
                try:
                    s.bind(("127.0.0.1", port))
                except OSError:
                    continue
                return port
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# The agents started and not yet killed; a failed wait shows their consoles.
RUNNING_AGENTS = []


def running_agents_text():
    """The end of each running agent's console, and of its error output when
    there is any (Wine reports a crash there), for a failure's message."""
    text = ""
    for agent in RUNNING_AGENTS:
        text += "\n--- console of agent %d (end):\n%s" % (agent.pid, agent.text()[-3000:])
        errors = agent.error_text()
        if errors.strip():
            text += "\n--- error output of agent %d (end):\n%s" % (agent.pid, errors[-3000:])
        if agent.popen.poll() is not None:
            text += "\n--- agent %d has ended with exit code %d" % (agent.pid, agent.popen.returncode)
    return text


def wait_until(predicate, timeout=20.0, interval=0.05, what="condition"):
    """Polls predicate until it is true; fails the test after timeout seconds,
    naming what it waited for (a text, or a function giving it at that time)
    and showing the end of every running agent's console."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + (what() if callable(what) else what)
                                 + running_agents_text())
        time.sleep(interval)


def render_ini(sections):
    lines = []
    for section, keys in sections.items():
        lines.append("[%s]" % section)
        for key, value in keys.items():
            lines.append("%s=%s" % (key, value))
        lines.append("")
    return "\n".join(lines)


class AgentFolder:
    """A fresh folder holding a copy of the agent and its data files."""

    def __init__(self, config=None, tags=DEFAULT_TAGS, simulation=DEFAULT_SIMULATION,
                 write_config=True, folder_prefix="talvero-e2e-"):
        self.root = tempfile.mkdtemp(prefix=folder_prefix)
        self.data = os.path.join(self.root, "data")
        os.makedirs(self.data)
        self.exe = os.path.join(self.root, os.path.basename(AGENT))
        shutil.copy2(AGENT, self.exe)
        shutil.copy2(os.path.join(REPO, "data", "logo.ico"), os.path.join(self.data, "logo.ico"))
        merged = {s: dict(k) for s, k in DEFAULT_CONFIG.items()}
        for section, keys in (config or {}).items():
            merged.setdefault(section, {}).update(keys)
        self.config = merged
        if write_config:
            self.write("config.ini", render_ini(merged))
        if tags is not None:
            self.write("tags.txt", tags)
        if simulation is not None:
            self.write("simulation.ini", simulation)
        self.processes = []

    def path(self, *parts):
        return os.path.join(self.data, *parts)

    def write(self, name, text, mode="w"):
        with open(self.path(name), mode, newline="", encoding="utf-8") as handle:
            handle.write(text)

    def read(self, name):
        with open(self.path(name), "rb") as handle:
            return handle.read()

    def start(self, env=None, stdin=subprocess.DEVNULL, args=()):
        process = AgentProcess(self, env=env, stdin=stdin, args=args)
        self.processes.append(process)
        return process

    def cleanup(self):
        for process in self.processes:
            process.kill()
        shutil.rmtree(self.root, ignore_errors=True)


class AgentProcess:
    """The agent running with its console output going to a file."""

    def __init__(self, folder, env=None, stdin=subprocess.DEVNULL, args=()):
        self.folder = folder
        self.output_path = os.path.join(folder.root, "console-%d.txt" % len(folder.processes))
        self.error_path = self.output_path + ".err"
        self.output = open(self.output_path, "wb")
        self.errors = open(self.error_path, "wb")
        command = ([WINE_RUN, folder.exe] if IS_WINDOWS else [folder.exe]) + list(args)
        full_env = dict(os.environ)
        if IS_WINDOWS:
            # Wine's own error lines (a class COM could not find, a process
            # that could not start) go to the error output, which a failed
            # wait shows.
            full_env["WINEDEBUG"] = WINE_ERRORS_SHOWN
        full_env.setdefault("XDG_RUNTIME_DIR", folder.root)
        full_env.setdefault("XDG_CONFIG_HOME", os.path.join(folder.root, "config-home"))
        full_env.update(env or {})
        self.popen = subprocess.Popen(command, cwd=folder.root, stdout=self.output,
                                      stderr=self.errors, stdin=stdin, env=full_env)
        self.pid = self.popen.pid
        RUNNING_AGENTS.append(self)

    def text(self):
        with open(self.output_path, "rb") as handle:
            return handle.read().decode("utf-8", "replace")

    def error_text(self):
        with open(self.error_path, "rb") as handle:
            return handle.read().decode("utf-8", "replace")

    def wait_for(self, fragment, timeout=20.0, count=1):
        """Waits until the console output holds fragment (count times)."""
        def seen():
            if self.popen.poll() is not None and self.text().count(fragment) < count:
                raise AssertionError("agent ended (code %s) before printing %r; output:\n%s"
                                     % (self.popen.returncode, fragment, self.text()))
            return self.text().count(fragment) >= count
        # A wait that gives up shows this agent's console as it is then.
        wait_until(seen, timeout, what=repr(fragment) + " in the output")
        return self.text()

    def wait_exit(self, timeout=20.0):
        return self.popen.wait(timeout=timeout)

    def signal(self, number):
        if self.popen.poll() is None:
            os.kill(self.pid, number)

    def kill(self):
        if self in RUNNING_AGENTS:
            RUNNING_AGENTS.remove(self)
        if self.popen.poll() is None:
            os.kill(self.pid, signal.SIGKILL)
            self.popen.wait(timeout=20)
        self.output.close()
        self.errors.close()


class AgentTestCase(unittest.TestCase):
    """Gives each test its own folders, cleaned up afterwards. Under Wine each
    folder also gets the simulation COM servers (the Linux build has its
    simulation server in process), and the test ends with its Wine session."""

    def make_folder(self, **kwargs):
        folder = AgentFolder(**kwargs)
        self.addCleanup(folder.cleanup)
        if IS_WINDOWS:
            install_com_servers(folder)
            self.addCleanup(end_wine_session)
        return folder

    def start_agent(self, **kwargs):
        env = kwargs.pop("env", None)
        folder = self.make_folder(**kwargs)
        return folder, folder.start(env=env)


# --- Windows helpers: the operator's clicks under Wine -------------------------

def wine_program(*args, timeout=60):
    """Runs a Windows program (or a Wine builtin such as reg) in the agent's
    prefix; returns (exit code, standard output as text)."""
    result = subprocess.run([WINE_RUN] + list(args), stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, timeout=timeout)
    return result.returncode, result.stdout.decode("utf-8", "replace")


def answer_box_path():
    """The test helper answer_box.exe of the Windows build beside the agent."""
    build = os.environ.get("TALVERO_BUILD_DIR") or os.path.dirname(AGENT)
    return os.path.join(build, "answer_box.exe")


def answer_box(*args, timeout=60):
    """Runs answer_box.exe (see tests/windows/answer_box.c) with args."""
    return wine_program(answer_box_path(), *[str(a) for a in args], timeout=timeout)


def wine_reg_value(key, name):
    """The data of a registry value as `reg query` shows it, or None."""
    code, text = wine_program("reg", "query", key, "/v", name)
    if code != 0:
        return None
    import re
    for line in text.splitlines():
        # "    <name>    REG_SZ    <data>"; names and data may hold blanks.
        match = re.match(r"^\s+(.*?)\s{4}(REG_\w+)(?:\s{4}(.*))?$", line.rstrip("\r"))
        if match and match.group(1).lower() == name.lower():
            return match.group(3) or ""
    return None


def windows_path(unix_path):
    """The path a Windows program under Wine sees for a Unix path (drive Z:)."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


# --- Windows build: the simulation COM servers -------------------------------

# What Wine prints when a process could not be started at all.
WINE_START_FAILURE = "failed to map the shared user data"

COM_SERVER_FILES = ("talvero-sim-server.exe", "talvero-sim-list.exe", "talvero-opcda-ps.dll")


def install_com_servers(folder):
    """Copies the simulation COM servers and the proxy/stub DLL beside the
    agent copy (so the server reads the folder's data/simulation.ini) and
    registers them in the Wine prefix of scripts/wine-run."""
    build = os.environ.get("TALVERO_BUILD_DIR", os.path.dirname(os.path.abspath(AGENT)))
    for name in COM_SERVER_FILES:
        shutil.copy2(os.path.join(build, name), os.path.join(folder.root, name))
    # Wine's own error lines are kept, so that a failure shows its cause.
    environment = dict(os.environ, WINEDEBUG=WINE_ERRORS_SHOWN)
    command = [os.path.join(REPO, "scripts", "register-sim-com"), folder.root]
    # Where scripts/wine-run cannot turn off address randomization, Wine
    # now and then fails to start a program at all ("failed to map the
    # shared user data", c0000018; see there): the program never ran, so
    # running it again is sound. Any other failure fails the test.
    for attempt in (1, 2):
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                env=environment, timeout=120)
        if result.returncode == 0:
            return
        output = result.stdout.decode("utf-8", "replace")
        sys.stderr.write("register-sim-com failed (exit %d, attempt %d):\n%s\n"
                         % (result.returncode, attempt, output))
        if WINE_START_FAILURE not in output:
            break
    raise AssertionError("the simulation COM servers could not be registered:\n" + output)


def wine_prefix():
    """The prefix that scripts/wine-run uses for the agent."""
    return os.environ.get("WINEPREFIX", os.path.join(REPO, "build-win", "wineprefix"))


def end_wine_session():
    """Ends every process of the prefix's Wine session (agents, COM servers,
    rpcss) and waits until they are gone. rpcss keeps the registration of a
    server that was killed, so a later creation would fail; a new session
    starts clean, and it starts by itself with the next Windows program."""
    environment = dict(os.environ, WINEPREFIX=wine_prefix())
    subprocess.run(["wineserver", "-k"], env=environment, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run(["wineserver", "-w"], env=environment, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def wine_process_ids(*fragments, prefix=None):
    """PIDs of the running processes whose command line holds every fragment
    (case-insensitive) and, when prefix is given, that run in that prefix."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as handle:
                command = handle.read().replace(b"\0", b" ").decode("utf-8", "replace").lower()
            if prefix is not None:
                with open("/proc/%s/environ" % entry, "rb") as handle:
                    environment = handle.read().split(b"\0")
                if ("WINEPREFIX=" + prefix).encode() not in environment:
                    continue
        except OSError:
            continue
        if all(fragment.lower() in command for fragment in fragments):
            found.append(int(entry))
    return found


def end_wine_processes(*fragments, prefix=None):
    """Ends, by PID, every process that wine_process_ids finds."""
    for pid in wine_process_ids(*fragments, prefix=prefix):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
