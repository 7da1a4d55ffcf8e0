"""What the operator sees of the agent's health: the console's alarms about
uploads that fall behind."""
import unittest

from harness import AgentTestCase
from forward_receiver import Receiver


class OperatorAlarmTest(AgentTestCase):

    def test_backlog_is_told_while_the_receiver_refuses_and_its_end_once_it_accepts(self):
        receiver = Receiver().start()
        self.addCleanup(receiver.stop)
        receiver.set_mode("not now")
        folder, agent = self.start_agent(config={"ITEMS": {"cf": "1"},
                                                 "APIS": {"api_host": receiver.url()}})
        # Ten sampling intervals of 1 s, then the next upload tick tells it.
        text = agent.wait_for("\nUpload backlog: ", timeout=60)
        line = text[text.index("\nUpload backlog: "):].split("\n")[1]
        self.assertRegex(line, r"^Upload backlog: \d+ files waiting, the oldest from "
                               r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d")
        self.assertNotIn("Uploads caught up.", text)
        receiver.set_mode("OK")
        text = agent.wait_for("\nUploads caught up.", timeout=90)
        # Told once per backlog: within ten minutes there is no second line.
        self.assertEqual(text.count("\nUpload backlog: "), 1)


if __name__ == "__main__":
    unittest.main()
