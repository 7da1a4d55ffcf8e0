"""The log file: [LOG] file=1 keeps the console's lines, each with its local time,
in data/log/agent.log, and every API write is told there with its peer."""
import json
import os
import re
import unittest

import harness
from test_http import HttpTestCase, body_of

STAMPED = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (info |good |error) \S")
WRITE = b"c=40&group=Channel1&item=Device1&tagkvs=Setpoint:7.5"
AUDIT = 'API write from 127.0.0.1: group "Channel1", item "Device1", tags and values "Setpoint:7.5": ok'


def log_text(agent_folder):
    path = agent_folder.path("log", "agent.log")
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as handle:
        return handle.read().decode("utf-8", "replace")


class LogFile(HttpTestCase):
    def start_logged(self, log_keys):
        port = harness.free_port()
        folder, agent = self.start_agent(config={"HTTP": {"port": str(port)}, "LOG": log_keys})
        agent.wait_for("Items update completed!", timeout=60)
        return port, folder, agent

    def test_a_write_through_the_api_is_in_the_file_with_its_time(self):
        port, folder, agent = self.start_logged({"file": "1"})
        answer = json.loads(body_of(self.post(port, body=WRITE)))
        self.assertEqual(answer, {"code": 200, "data": "ok"})
        agent.wait_for("\n" + AUDIT)
        # The line is whole in the file once the next line begins or the agent
        # has been quiet for a second.
        harness.wait_until(lambda: AUDIT in log_text(folder), timeout=20,
                           what=lambda: "the audit line in agent.log:\n" + log_text(folder))
        lines = log_text(folder).splitlines()
        for line in lines:
            self.assertRegex(line, STAMPED)
        texts = [line[30:] for line in lines]
        self.assertIn("Press Ctrl+C to exit from the system.", texts)
        self.assertIn("The http server started on port %d successfully!" % port, texts)
        self.assertIn(AUDIT, texts)
        self.assertTrue(any(line.startswith(tuple("0123456789")) and " good  " + AUDIT in line
                            for line in lines))

    def test_no_file_unless_asked(self):
        port, folder, agent = self.start_logged({})
        self.post(port, body=WRITE)
        agent.wait_for("\n" + AUDIT)
        self.assertFalse(os.path.exists(folder.path("log")))

    def test_a_log_that_cannot_be_written_is_told_once_and_the_agent_serves_on(self):
        port = harness.free_port()
        folder = self.make_folder(config={"HTTP": {"port": str(port)}, "LOG": {"file": "1"}})
        # A file where the log's folder should be: nothing can be made inside it.
        folder.write("log", "not a folder")
        agent = folder.start()
        agent.wait_for("Items update completed!", timeout=60)
        answer = json.loads(body_of(self.post(port, body=WRITE)))
        self.assertEqual(answer, {"code": 200, "data": "ok"})
        agent.wait_for("\n" + AUDIT)
        self.assertEqual(agent.text().count("cannot be written"), 1, agent.text())
        self.assertIn("the agent runs on without it.", agent.text())


if __name__ == "__main__":
    unittest.main()
