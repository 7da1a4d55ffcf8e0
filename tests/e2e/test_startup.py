"""Startup and shutdown of the agent, as an operator sees them."""
import os
import signal
import unittest

import harness
from harness import AgentTestCase, IS_WINDOWS, wait_until
from forward_receiver import Receiver


class StartupTest(AgentTestCase):

    def test_banner_then_second_instance_then_sigterm(self):
        folder, agent = self.start_agent()
        text = agent.wait_for("Press Ctrl+C to exit from the system.")
        agent.wait_for("Successfully communicated to server!", timeout=60)
        self.assertIn("--------* TALVERO AGENT *--------", text)
        self.assertTrue(os.path.isdir(folder.path("temp")))
        # The banner's notice ends with the current year.
        import datetime
        self.assertIn(str(datetime.date.today().year) + "\nPress Ctrl+C", text)

        second = folder.start()
        self.assertEqual(second.wait_exit(), 0)
        self.assertEqual(second.text(), "")
        self.assertIsNone(agent.popen.poll(), "the first agent keeps running")

        if IS_WINDOWS:
            return  # the Windows agent ends through its window or console events
        agent.signal(signal.SIGTERM)
        self.assertEqual(agent.wait_exit(30), 0)

    @unittest.skipIf(IS_WINDOWS, "the Windows message box is answered by the Wine suites")
    def test_missing_config_ends_without_creating_anything(self):
        folder, agent = self.start_agent(write_config=False)
        self.assertEqual(agent.wait_exit(), 0)
        self.assertIn("config file isn't exists", agent.error_text())
        self.assertFalse(os.path.exists(folder.path("temp")))
        self.assertNotIn("TALVERO AGENT *", agent.text())


class SettingsCheckTest(AgentTestCase):
    """Integer settings that are no number or out of range take their defaults,
    each named on the console once; the valid ones keep their meaning."""

    def test_faulty_values_are_named_and_valid_ones_kept(self):
        port = harness.free_port()
        folder, agent = self.start_agent(config={
            "SERVER": {"isremote": "yes"},
            "ITEMS": {"cf": "0", "itemscf": "abc"},
            "HTTP": {"port": str(port)}})
        lines = ("Setting isremote=yes is not a number; using 0",
                 "Setting itemscf=abc is not a number; using 60",
                 "Setting cf=0 is out of range 1..86400; using 10")
        agent.wait_for(lines[-1], timeout=60)
        agent.wait_for("The http server started on port %d successfully!" % port, timeout=90)
        agent.wait_for("Items update completed!", timeout=60)
        text = agent.text()
        for line in lines:
            self.assertEqual(text.count(line), 1, line)
        self.assertNotIn("Setting port", text)
        body = harness.api_post(port, "c=30&group=Channel1&item=Device1&tags=Name")
        self.assertEqual(body["data"][0]["v"], "pump one")

    def test_port_out_of_range_is_named(self):
        folder, agent = self.start_agent(config={"ITEMS": {"cf": "99999999999"},
                                                 "HTTP": {"port": "-5"}})
        agent.wait_for("Setting port=-5 is out of range 0..65535; using 0", timeout=60)
        self.assertIn("Setting cf=99999999999 is out of range 1..86400; using 10", agent.text())


class DataFolderLockTest(AgentTestCase):
    """One agent per data folder, also where the single-instance lock cannot
    see the other agent: another session (its own XDG_RUNTIME_DIR; under Wine
    another prefix, whose mutexes are its own)."""

    def other_session(self, folder, name):
        if not IS_WINDOWS:
            runtime = os.path.join(folder.root, name)
            os.makedirs(runtime)
            return {"XDG_RUNTIME_DIR": runtime}
        prefix = harness.wine_prefix() + "-" + name
        self.addCleanup(end_wine_session_of, prefix)
        return {"WINEPREFIX": prefix}

    def test_second_agent_on_the_folder_ends_and_a_crash_frees_it(self):
        folder, first = self.start_agent()
        first.wait_for("Press Ctrl+C to exit from the system.", timeout=60)

        # Under Wine a new prefix is made on its first use: a while.
        second = folder.start(env=self.other_session(folder, "other-session"))
        self.assertNotEqual(second.wait_exit(240), 0)
        self.assertEqual(second.text().count("Another agent uses this data folder"), 1,
                         second.text())
        self.assertNotIn("TALVERO AGENT *", second.text())
        self.assertIsNone(first.popen.poll(), "the first agent keeps running")
        if IS_WINDOWS:
            return  # the Windows agent ends through its window or console events

        # The first agent dies without a word: its lock goes with it.
        first.kill()
        third = folder.start(env=self.other_session(folder, "third-session"))
        third.wait_for("Press Ctrl+C to exit from the system.")
        self.assertNotIn("Another agent", third.text())
        third.signal(signal.SIGTERM)
        self.assertEqual(third.wait_exit(30), 0)


def end_wine_session_of(prefix):
    """Ends the Wine session of another prefix, as end_wine_session does for
    the agent's own."""
    import subprocess
    environment = dict(os.environ, WINEPREFIX=prefix)
    for flag in ("-k", "-w"):
        subprocess.run(["wineserver", flag], env=environment, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


class LateServerTest(AgentTestCase):
    """An agent started before its OPC server can create it (a server service
    still starting at logon) serves in full once the supervisor connects."""

    def test_uploads_while_degraded_then_listener_and_sampler_once_connected(self):
        receiver = Receiver().start()
        self.addCleanup(receiver.stop)
        port = harness.free_port()
        failing = harness.DEFAULT_SIMULATION.replace("fail=\n", "fail=create\n")
        self.assertNotEqual(failing, harness.DEFAULT_SIMULATION)
        folder = self.make_folder(config={"ITEMS": {"cf": "1"}, "HTTP": {"port": str(port)},
                                          "APIS": {"api_host": receiver.url()}},
                                  simulation=failing)
        # A sample left by the previous run.
        os.makedirs(folder.path("temp"), exist_ok=True)
        folder.write("temp/1000.txt", '{"i":"Level","v":"left over","t":1}')
        agent = folder.start()
        agent.wait_for("\nConnect to opc server failed.", timeout=60)

        # Degraded: the leftover is sent, the port stays closed.
        wait_until(lambda: any(b"left over" in body for body in receiver.bodies()), timeout=60,
                   what="the leftover spool file to be uploaded")
        self.assertFalse(os.path.exists(folder.path("temp", "1000.txt")))
        self.assertNotIn("The http server started", agent.text())

        # The server recovers: the supervisor connects, and the agent serves.
        folder.write("simulation.ini", harness.DEFAULT_SIMULATION)
        agent.wait_for("Items update completed!", timeout=90)
        agent.wait_for("The http server started on port %d successfully!" % port, timeout=30)
        body = harness.api_post(port, "c=30&group=Channel1&item=Device1&tags=Name")
        self.assertEqual(body["data"][0]["v"], "pump one")
        wait_until(lambda: any(b'"i":"Count"' in body for body in receiver.bodies()),
                   timeout=60, what="a sample of the connected agent to be uploaded")
        text = agent.text()
        self.assertEqual(text.count("The http server started on port"), 1)


if __name__ == "__main__":
    unittest.main()
