"""The Linux agent's equivalents of the console window: the confirmation of
SIGINT and SIGHUP on the terminal, the orderly SIGTERM, and the autorun entry.
The terminal is a pseudo-terminal on the agent's standard input."""
import os
import pty
import signal
import unittest

from harness import AgentTestCase, DEFAULT_SIMULATION, IS_WINDOWS, render_ini, wait_until

QUESTION = "Confirm exit? "


@unittest.skipIf(IS_WINDOWS, "the Windows console is tested by test_wine_console")
class TerminalConsoleTest(AgentTestCase):

    def start_on_terminal(self, **kwargs):
        """Starts the agent with a pseudo-terminal as standard input; returns
        the folder, the agent and the terminal's master side."""
        master, slave = pty.openpty()
        self.addCleanup(os.close, master)
        folder = self.make_folder(**kwargs)
        agent = folder.start(stdin=slave)
        os.close(slave)
        agent.wait_for("Press Ctrl+C to exit from the system.")
        return folder, agent, master

    def wait_for_question(self, agent, count):
        wait_until(lambda: agent.error_text().count(QUESTION) >= count, 20,
                   what=lambda: "question %d in:\n%s" % (count, agent.error_text()))

    def test_sigint_asks_and_only_yes_ends(self):
        folder, agent, master = self.start_on_terminal()
        agent.signal(signal.SIGINT)
        self.wait_for_question(agent, 1)
        os.write(master, b"x\n")  # anything but y goes on
        agent.signal(signal.SIGINT)
        self.wait_for_question(agent, 2)  # asked again: the agent went on
        self.assertIsNone(agent.popen.poll())
        os.write(master, b"n\n")
        agent.signal(signal.SIGINT)
        self.wait_for_question(agent, 3)
        self.assertIsNone(agent.popen.poll())
        os.write(master, b"y\n")
        self.assertEqual(agent.wait_exit(), 0)

    def test_confirmed_exit_lets_go_of_the_group(self):
        # The server counts the items its groups hold; an exit that ended the
        # process without letting go left it holding them.
        sim = DEFAULT_SIMULATION.replace("delay=0\n", "delay=0\ncounts=1\n")
        folder, agent, master = self.start_on_terminal(simulation=sim)
        agent.wait_for("Items update completed!")
        self.assertNotEqual(folder.read("simulation.counts"), b"items=0\n")
        agent.signal(signal.SIGINT)
        self.wait_for_question(agent, 1)
        os.write(master, b"y\n")
        self.assertEqual(agent.wait_exit(), 0)
        self.assertEqual(folder.read("simulation.counts"), b"items=0\n")

    def test_sighup_asks_on_the_terminal(self):
        folder, agent, master = self.start_on_terminal()
        agent.signal(signal.SIGHUP)
        self.wait_for_question(agent, 1)
        self.assertIsNone(agent.popen.poll(), "waits for the answer")
        os.write(master, b"y\n")
        self.assertEqual(agent.wait_exit(), 0)

    def test_sigterm_shuts_down_without_asking(self):
        folder, agent, master = self.start_on_terminal()
        agent.signal(signal.SIGTERM)
        self.assertEqual(agent.wait_exit(), 0)
        self.assertNotIn(QUESTION, agent.error_text())

    def test_without_terminal_sigint_and_sighup_end_at_once(self):
        for number in (signal.SIGINT, signal.SIGHUP):
            folder, agent = self.start_agent()
            agent.wait_for("Press Ctrl+C to exit from the system.")
            agent.signal(number)
            self.assertEqual(agent.wait_exit(), 0, "signal %d" % number)
            self.assertNotIn(QUESTION, agent.error_text())


@unittest.skipIf(IS_WINDOWS, "the registry entries are tested by test_wine_console")
class AutostartTest(AgentTestCase):

    def paths(self, folder):
        home = os.path.join(folder.root, "config-home")  # the harness's XDG_CONFIG_HOME
        return (os.path.join(home, "talvero", "TALVERO AGENT", "auto"),
                os.path.join(home, "autostart", "TALVERO AGENT.desktop"))

    def run_until_banner_then_stop(self, folder):
        agent = folder.start()
        text = agent.wait_for("Press Ctrl+C to exit from the system.")
        agent.signal(signal.SIGTERM)
        self.assertEqual(agent.wait_exit(), 0)
        return text

    def read(self, path):
        with open(path) as handle:
            return handle.read()

    def test_setting_brings_the_entry_in_line_at_start(self):
        folder = self.make_folder(config={"SERVER": {"isautorun": "1"}})
        auto, entry = self.paths(folder)
        self.run_until_banner_then_stop(folder)
        self.assertEqual(self.read(auto), "1")
        self.assertIn('\nExec="%s" -h\n' % folder.exe, self.read(entry))

        folder.config["SERVER"]["isautorun"] = "0"
        folder.write("config.ini", render_ini(folder.config))
        self.run_until_banner_then_stop(folder)
        self.assertEqual(self.read(auto), "0")
        self.assertFalse(os.path.exists(entry))

    def test_blank_in_the_folder_is_quoted(self):
        folder = self.make_folder(config={"SERVER": {"isautorun": "1"}},
                                  folder_prefix="Talvero Agent ")
        self.assertIn(" ", folder.exe)
        auto, entry = self.paths(folder)
        self.run_until_banner_then_stop(folder)
        self.assertEqual(self.read(auto), "1")
        exec_lines = [line for line in self.read(entry).splitlines() if line.startswith("Exec=")]
        self.assertEqual(exec_lines, ['Exec="%s" -h' % folder.exe])

    def test_unwritable_entry_is_reported_and_auto_stays_off(self):
        folder = self.make_folder(config={"SERVER": {"isautorun": "1"}})
        auto, entry = self.paths(folder)
        os.makedirs(os.path.dirname(os.path.dirname(entry)))
        with open(os.path.dirname(entry), "w") as handle:
            handle.write("a file where the autostart folder belongs")
        text = self.run_until_banner_then_stop(folder)
        self.assertIn("Could not write the autorun entry; autorun stays off.", text)
        self.assertEqual(self.read(auto), "0")


if __name__ == "__main__":
    unittest.main()
