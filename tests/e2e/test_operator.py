"""What the operator sees of the agent's health: the status request, and the
console's alarms about uploads that fall behind."""
import json
import threading
import time
import unittest

import harness
from harness import AgentTestCase
from forward_receiver import Receiver


def post_raw(port, query, timeout=20.0):
    return harness.api_post_text(port, query, timeout)


def post(port, query, timeout=20.0):
    return harness.api_post(port, query, timeout)


class StatusRequestTest(AgentTestCase):

    def test_status_answers_while_a_device_read_hangs_and_shows_no_secret(self):
        receiver = Receiver().start()
        self.addCleanup(receiver.stop)
        receiver.set_mode("not now")  # files stay in the spool
        port = harness.free_port()
        secret_url = receiver.url().replace("://", "://operator:pa55@") + "?token=abc"
        # Every device read takes 12 s: longer than the API's own 10 s limit.
        simulation = harness.DEFAULT_SIMULATION.replace("delay=0", "delay=12000")
        started_before = int(time.time() * 1000)
        folder, agent = self.start_agent(
            config={"HTTP": {"port": str(port)}, "APIS": {"api_host": secret_url}},
            simulation=simulation)
        agent.wait_for("Items update completed!", timeout=60)
        folder.write("temp/1000.txt", '{"i":"Level","v":"1","t":1}')

        hung = {}
        reader = threading.Thread(
            target=lambda: hung.update(answer=post(port, "c=30&group=Channel1&item=Device1"
                                                         "&tags=Level", timeout=60)))
        reader.start()
        self.addCleanup(reader.join, 60)
        # The read is under way at the OPC worker (it waits 12 s there).
        harness.wait_until(lambda: agent_busy(port) >= 2, timeout=10,
                           what="the hung read to hold a connection")
        harness.wait_until(lambda: post(port, "c=60", timeout=5)["data"]["opc"]["stalledMs"] > 0,
                           timeout=10, what="the hung read to reach the server")

        asked = time.monotonic()
        answer = post(port, "c=60", timeout=5)
        self.assertLess(time.monotonic() - asked, 5)
        self.assertTrue(reader.is_alive(), "the read ended before the status was asked")
        self.assertEqual(answer["code"], 200, answer)
        status = answer["data"]
        self.assertEqual(status["version"], "1.0")
        self.assertGreaterEqual(status["started"], started_before - 1000)
        self.assertLessEqual(status["started"], int(time.time() * 1000))
        opc = status["opc"]
        self.assertEqual({key: opc[key] for key in ("connected", "progid", "readFailures")},
                         {"connected": True, "progid": "Talvero.Simulation.1", "readFailures": 0})
        # The hung read is under way; the report tells how long it has run.
        self.assertGreater(opc["stalledMs"], 0)
        self.assertEqual(set(opc), {"connected", "progid", "lastRead", "readFailures",
                                    "stalledMs"})
        self.assertEqual(status["items"], {"added": 6, "failed": 0})
        self.assertGreaterEqual(status["spool"]["files"], 1)
        self.assertGreater(status["spool"]["bytes"], 0)
        self.assertEqual(status["spool"]["oldest"], "1000.txt")
        self.assertEqual(status["upload"]["host"], receiver.url())
        self.assertNotIn("pa55", json.dumps(status))
        self.assertNotIn("token", json.dumps(status))
        self.assertGreaterEqual(status["http"]["busy"], 2)

        reader.join(60)
        self.assertEqual(hung["answer"], {"code": 201, "msg": "TimeOut"})


def agent_busy(port):
    try:
        return post(port, "c=60", timeout=5)["data"]["http"]["busy"]
    except (OSError, KeyError, ValueError):
        return 0


class RecordFormatTest(AgentTestCase):

    def test_timebias_and_quality_in_api_reads_and_uploads(self):
        receiver = Receiver().start()
        self.addCleanup(receiver.stop)
        port = harness.free_port()
        folder, agent = self.start_agent(
            config={"ITEMS": {"cf": "1", "timebias": "0", "quality": "1"},
                    "HTTP": {"port": str(port)}, "APIS": {"api_host": receiver.url()}})
        agent.wait_for("Items update completed!", timeout=60)
        answer = post(port, "c=30&group=Channel1&item=Device1&tags=Name,Count")
        self.assertEqual(answer["code"], 200, answer)
        for record in answer["data"]:
            self.assertEqual(list(record), ["i", "v", "t", "q"])
            self.assertEqual(record["q"], 192)  # good
            self.assertLess(abs(record["t"] - time.time()), 120)
        harness.wait_until(lambda: receiver.bodies(), timeout=60, what="an upload")
        uploaded = json.loads(receiver.bodies()[0].decode("utf-8"))
        self.assertEqual(list(uploaded[0]), ["i", "v", "t", "q"])
        self.assertLess(abs(uploaded[0]["t"] - time.time()), 120)

    def test_default_records_are_as_before(self):
        port = harness.free_port()
        folder, agent = self.start_agent(config={"HTTP": {"port": str(port)}})
        agent.wait_for("Items update completed!", timeout=60)
        raw = post_raw(port, "c=30&group=Channel1&item=Device1&tags=Name")
        self.assertRegex(raw, r'^\{"code":200,"data":\[\{"i":"Name","v":"pump one","t":-?\d+\}\]\}$')
        record = json.loads(raw)["data"][0]
        self.assertLess(abs(record["t"] + 28800 - time.time()), 120)


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
