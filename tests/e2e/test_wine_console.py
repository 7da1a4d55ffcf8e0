"""The Windows agent's console, hidden window, tray icon, autorun and exits,
driven under Wine as an operator would: message boxes are answered by the
test helper answer_box.exe, never by waiting a while."""
import datetime
import os
import signal
import unittest

import harness
from harness import (AgentTestCase, DEFAULT_SIMULATION, IS_WINDOWS, answer_box, wait_until,
                     wine_reg_value)

AGENT_KEY = r"HKCU\Software\talvero\TALVERO AGENT"
MACHINE_RUN = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
USER_RUN = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
WINDOW_CLASS = "TALVERO AGENT"


@unittest.skipUnless(IS_WINDOWS, "the Windows console, window and registry exist only under Wine")
class WineConsoleTest(AgentTestCase):

    def setUp(self):
        if not os.path.exists(harness.answer_box_path()):
            self.fail("answer_box.exe missing beside the agent: " + harness.answer_box_path())

    def start_running_agent(self, **kwargs):
        """Starts the agent and waits until its hidden window exists. The
        window comes after the connection stage: without an OPC server the
        agent ends there, and the behaviours under test are out of reach."""
        folder, agent = self.start_agent(**kwargs)

        def window_or_end():
            if agent.popen.poll() is not None:
                return "ended"
            code, _ = answer_box("window", WINDOW_CLASS, 500)
            return "window" if code == 0 else None
        state = wait_until(window_or_end, 60, what="the hidden window")
        if state == "ended":
            self.fail("agent ended (code %s) before its window; output:\n%s"
                      % (agent.popen.returncode, agent.text()))
        return folder, agent

    def assert_alive(self, agent):
        self.assertIsNone(agent.popen.poll(), "the agent keeps running")
        self.assertEqual(answer_box("window", WINDOW_CLASS, 0)[0], 0, "hidden window present")

    def test_tray_icon_and_console_event_confirmation(self):
        folder, agent = self.start_running_agent()
        self.assertEqual(answer_box("tray", WINDOW_CLASS, 128)[0], 0, "tray icon 128 added")

        # A console control event (SIGINT reaches the console control handler).
        agent.signal(signal.SIGINT)
        code, text = answer_box("box", "TALVERO AGENT", "no", 20000, "Confirm exit")
        self.assertEqual(code, 0, "confirmation box shown and answered")
        self.assertEqual(text, "Confirm exit? ")
        self.assert_alive(agent)
        self.assertEqual(answer_box("tray", WINDOW_CLASS, 128)[0], 0, "tray icon kept on No")

        agent.signal(signal.SIGINT)
        code, text = answer_box("box", "TALVERO AGENT", "yes", 20000, "Confirm exit")
        self.assertEqual(code, 0)
        self.assertEqual(agent.wait_exit(30), 0)

    def test_autorun_command_writes_and_removes_the_entries(self):
        folder, agent = self.start_running_agent()
        # Startup with isautorun 0 brought the registry to "off".
        self.assertEqual(wine_reg_value(AGENT_KEY, "auto"), "0")
        self.assertIsNone(wine_reg_value(MACHINE_RUN, "TALVERO AGENT"))
        expected_run = '"%s" -h' % harness.windows_path(folder.exe)

        self.assertEqual(answer_box("command", WINDOW_CLASS, 3013)[0], 0)
        wait_until(lambda: wine_reg_value(AGENT_KEY, "auto") == "1", 30, what="auto 1")
        self.assertEqual(wine_reg_value(MACHINE_RUN, "TALVERO AGENT").lower(),
                         expected_run.lower())
        wait_until(lambda: b"isautorun=1" in folder.read("config.ini"), 30, what="isautorun=1")
        config = folder.read("config.ini").decode()
        self.assertIn("progid=Talvero.Simulation.1", config, "other lines kept")
        self.assertIn("[HTTP]", config)

        self.assertEqual(answer_box("command", WINDOW_CLASS, 3013)[0], 0)
        wait_until(lambda: wine_reg_value(AGENT_KEY, "auto") == "0", 30, what="auto 0")
        self.assertIsNone(wine_reg_value(MACHINE_RUN, "TALVERO AGENT"))
        self.assertIsNone(wine_reg_value(USER_RUN, "TALVERO AGENT"))
        wait_until(lambda: b"isautorun=0" in folder.read("config.ini"), 30, what="isautorun=0")

        # The tray's Exit, confirmed.
        self.assertEqual(answer_box("command", WINDOW_CLASS, 3012)[0], 0)
        code, text = answer_box("box", "TALVERO AGENT", "yes", 20000, "Confirm to exit?")
        self.assertEqual((code, text), (0, "Confirm to exit?"))
        self.assertEqual(agent.wait_exit(30), 0)
        self.assertIn("\n Exiting,please waiting...", agent.text())

    def test_confirmed_exits_let_go_of_the_group(self):
        # The simulation server counts the items its groups hold; an exit that
        # ended the process without letting go left the server holding them,
        # and running, long after the agent.
        sim = DEFAULT_SIMULATION.replace("delay=0\n", "delay=0\ncounts=1\n")
        exits = (
            ("console event", lambda agent: agent.signal(signal.SIGINT), "Confirm exit"),
            ("tray Exit", lambda agent: answer_box("command", WINDOW_CLASS, 3012), "Confirm to exit?"),
        )
        for what, ask, question in exits:
            folder, agent = self.start_running_agent(simulation=sim)
            agent.wait_for("Items update completed!")
            self.assertNotEqual(folder.read("simulation.counts"), b"items=0\n", what)
            ask(agent)
            code, _ = answer_box("box", "TALVERO AGENT", "yes", 20000, question)
            self.assertEqual(code, 0, what)
            self.assertEqual(agent.wait_exit(30), 0, what)
            self.assertEqual(folder.read("simulation.counts"), b"items=0\n", what)

    def test_about_box_ends_with_the_current_year(self):
        folder, agent = self.start_running_agent()
        self.assertEqual(answer_box("command", WINDOW_CLASS, 3011)[0], 0)
        code, text = answer_box("box", "TALVERO AGENT", "ok", 20000, "Ver")
        self.assertEqual(code, 0)
        self.assertTrue(text.startswith("TALVERO AGENT Ver 1.0\n"), text)
        self.assertTrue(text.endswith(str(datetime.date.today().year)), text)
        self.assert_alive(agent)

    def test_second_agent_ends_while_the_first_runs(self):
        folder, agent = self.start_running_agent()
        second = folder.start()
        self.assertEqual(second.wait_exit(60), 0)
        self.assertEqual(second.text(), "")
        self.assert_alive(agent)

    def end_agent(self, agent):
        """Ends an agent that may still run through the tray's confirmed Exit."""
        if agent.popen.poll() is None:
            self.assertEqual(answer_box("command", WINDOW_CLASS, 3012)[0], 0)
            self.assertEqual(answer_box("box", "TALVERO AGENT", "yes", 20000, "Confirm to exit?")[0], 0)
        self.assertEqual(agent.wait_exit(60), 0)

    def start_to_banner(self, folder):
        """Starts the agent and waits until its start-up autorun step is done
        (the banner follows it) and the agent is in its main loop or has ended
        for want of an OPC server."""
        agent = folder.start()
        agent.wait_for("Press Ctrl+C to exit from the system.", 60)

        def settled():
            return agent.popen.poll() is not None or answer_box("window", WINDOW_CLASS, 500)[0] == 0
        wait_until(settled, 60, what="main loop or end")
        return agent

    def test_start_brings_autorun_in_line_with_the_setting(self):
        # Reached before the connection stage, so it runs with or without an
        # OPC server under Wine.
        folder = self.make_folder(config={"SERVER": {"isautorun": "1"}})
        expected_run = '"%s" -h' % harness.windows_path(folder.exe)
        self.addCleanup(self.reset_autorun)
        self.end_agent(self.start_to_banner(folder))
        self.assertEqual(wine_reg_value(AGENT_KEY, "auto"), "1")
        self.assertEqual((wine_reg_value(MACHINE_RUN, "TALVERO AGENT") or "").lower(),
                         expected_run.lower())

        folder.config["SERVER"]["isautorun"] = "0"
        folder.write("config.ini", harness.render_ini(folder.config))
        self.end_agent(self.start_to_banner(folder))
        self.assertEqual(wine_reg_value(AGENT_KEY, "auto"), "0")
        self.assertIsNone(wine_reg_value(MACHINE_RUN, "TALVERO AGENT"))
        self.assertIsNone(wine_reg_value(USER_RUN, "TALVERO AGENT"))

    def test_blank_in_the_folder_is_quoted(self):
        folder = self.make_folder(config={"SERVER": {"isautorun": "1"}},
                                  folder_prefix="Talvero Agent ")
        self.assertIn(" ", folder.exe)
        self.addCleanup(self.reset_autorun)
        self.end_agent(self.start_to_banner(folder))
        self.assertEqual(wine_reg_value(AGENT_KEY, "auto"), "1")
        self.assertEqual((wine_reg_value(MACHINE_RUN, "TALVERO AGENT") or "").lower(),
                         ('"%s" -h' % harness.windows_path(folder.exe)).lower())

    def reset_autorun(self):
        # The prefix outlives the test: never leave an autorun entry behind.
        for key in (MACHINE_RUN, USER_RUN):
            harness.wine_program("reg", "delete", key, "/v", "TALVERO AGENT", "/f")

    def test_missing_config_box_then_exit_without_files(self):
        folder, agent = self.start_agent(write_config=False)
        code, text = answer_box("wait-box", "TALVERO AGENT", 30000, "config file")
        self.assertEqual((code, text), (0, "config file isn't exists"))
        self.assertIsNone(agent.popen.poll(), "startup waits for the box")
        code, _ = answer_box("box", "TALVERO AGENT", "ok", 20000, "config file")
        self.assertEqual(code, 0)
        self.assertEqual(agent.wait_exit(30), 0)
        self.assertFalse(os.path.exists(folder.path("temp")))
        self.assertNotIn("TALVERO AGENT *", agent.text())


if __name__ == "__main__":
    unittest.main()
