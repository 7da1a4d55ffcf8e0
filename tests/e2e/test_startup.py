"""Startup and shutdown of the agent, as an operator sees them."""
import os
import signal
import unittest

from harness import AgentTestCase, IS_WINDOWS


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


if __name__ == "__main__":
    unittest.main()
