"""The Linux service: "talvero-agent --service" as systemd runs it, in the
foreground with its output kept, no one to answer, stopped by SIGTERM."""
import json
import os
import pty
import re
import select
import signal
import subprocess
import time
import unittest

import harness
from harness import IS_WINDOWS, DEFAULT_SIMULATION
from test_http import HttpTestCase, body_of
from test_log import STAMPED, log_text

COUNTED = DEFAULT_SIMULATION.replace("delay=0\n", "delay=0\ncounts=1\n")
ANSI = re.compile("\x1b[\\[\\]]")


@unittest.skipIf(IS_WINDOWS, "the Windows service is the service control manager's")
class LinuxService(HttpTestCase):
    def start_service(self, log_keys, **kwargs):
        port = harness.free_port()
        folder = self.make_folder(config={"HTTP": {"port": str(port)}, "LOG": log_keys},
                                  simulation=COUNTED, **kwargs)
        return port, folder, folder.start(args=["--service"])

    def test_serves_logs_and_stops_in_order_on_a_signal(self):
        # The file is on in a service even where the settings leave it off;
        # every termination signal is an orderly stop, since no one confirms.
        for log_keys, number in (({"file": "1"}, signal.SIGTERM), ({"file": "0"}, signal.SIGINT),
                                 ({}, signal.SIGHUP)):
            with self.subTest(log=log_keys, signal=number):
                port, folder, agent = self.start_service(log_keys)
                agent.wait_for("Items update completed!", timeout=60)
                answer = json.loads(body_of(self.post(
                    port, "?c=30&group=Channel1&item=Device1&tags=Serial")))
                self.assertEqual(answer["code"], 200, answer)
                self.assertEqual([(r["i"], r["v"]) for r in answer["data"]], [("Serial", "1234")])
                self.assertEqual(folder.read("simulation.counts"), b"items=6\n")

                agent.signal(number)
                self.assertEqual(agent.wait_exit(timeout=10), 0, agent.text())
                # The group was removed and the server let go of before the end.
                self.assertEqual(folder.read("simulation.counts"), b"items=0\n")
                self.assertIn("\nThe agent has stopped.\n", agent.text())

                lines = log_text(folder).splitlines()
                for line in lines:
                    self.assertRegex(line, STAMPED)
                texts = [line[30:] for line in lines]
                self.assertIn("The http server started on port %d successfully!" % port, texts)
                self.assertIn("Stop requested: the agent stops.", texts)
                self.assertEqual(texts[-1], "The agent has stopped.")
                self.assertNotIn("Press Ctrl+C to exit from the system.", texts)

    def terminal_output(self, args):
        """Runs the agent with its output on a terminal until its items are in,
        stops it with SIGTERM and returns all it wrote there."""
        folder = self.make_folder()
        controller, terminal = pty.openpty()
        process = subprocess.Popen([folder.exe] + args, cwd=folder.root, stdout=terminal,
                                   stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                                   env=dict(os.environ, XDG_RUNTIME_DIR=folder.root,
                                            XDG_CONFIG_HOME=os.path.join(folder.root, "home")))
        os.close(terminal)
        output = b""
        try:
            deadline = time.monotonic() + 60
            while b"Items update completed!" not in output and time.monotonic() < deadline:
                if select.select([controller], [], [], 1)[0]:
                    output += os.read(controller, 65536)
            self.assertIn(b"Items update completed!", output)
            os.kill(process.pid, signal.SIGTERM)
            self.assertEqual(process.wait(timeout=10), 0)
            while select.select([controller], [], [], 0)[0]:
                try:
                    chunk = os.read(controller, 65536)
                except OSError:  # the terminal's other end has closed
                    break
                if not chunk:
                    break
                output += chunk
        finally:
            if process.poll() is None:
                os.kill(process.pid, signal.SIGKILL)
                process.wait(timeout=20)
            os.close(controller)
        return output.decode("utf-8", "replace")

    def test_no_colours_or_title_even_on_a_terminal(self):
        # The console colours a terminal; the service never does.
        for args, coloured in (([], True), (["--service"], False)):
            with self.subTest(args=args):
                output = self.terminal_output(args)
                self.assertEqual(ANSI.search(output) is not None, coloured, repr(output[:300]))

    def test_a_server_that_hangs_does_not_hold_up_the_stop(self):
        # The first three device reads are answered, then each takes 40 s.
        hanging = COUNTED.replace("delay=0\n", "delay=40000\ndelayafter=3\n")
        port = harness.free_port()
        folder = self.make_folder(config={"ITEMS": {"cf": "1"}, "HTTP": {"port": str(port)}},
                                  simulation=hanging)
        agent = folder.start(args=["--service"])
        agent.wait_for("Items update completed!", timeout=60)
        harness.wait_until(
            lambda: harness.api_post(port, "c=60", timeout=10)["data"]["opc"]["stalledMs"] > 0,
            30, what="a read hung")
        agent.signal(signal.SIGTERM)
        self.assertEqual(agent.wait_exit(timeout=10), 0, agent.text())
        # The line that says why the server was not let go of reached the file.
        self.assertIn("Stopping without releasing the OPC server", log_text(folder))

    def test_a_missing_config_file_ends_it_with_its_reason(self):
        folder = self.make_folder(write_config=False)
        agent = folder.start(args=["--service"])
        self.assertEqual(agent.wait_exit(timeout=20), 2, agent.text())
        self.assertIn("\nThe service ends: %s does not exist.\n" % folder.path("config.ini"),
                      agent.text())
        self.assertEqual(agent.error_text(), "")  # no box

    def test_a_missing_tags_file_is_a_log_line_not_a_box(self):
        port, folder, agent = self.start_service({}, tags=None)
        agent.wait_for("\ntags file isn't exists", timeout=60)
        harness.wait_until(lambda: "tags file isn't exists" in log_text(folder), timeout=20,
                           what=lambda: "the notice in agent.log:\n" + log_text(folder))
        self.assertNotIn("[TALVERO]", agent.error_text())
        agent.signal(signal.SIGTERM)
        self.assertEqual(agent.wait_exit(timeout=10), 0, agent.text())


if __name__ == "__main__":
    unittest.main()
