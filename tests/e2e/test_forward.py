"""Sampling into spool files and their upload to a receiver the test controls."""
import json
import os
import shutil
import signal
import subprocess
import time
import unittest

import harness
from harness import AgentTestCase, IS_WINDOWS, DEFAULT_SIMULATION, answer_box, wait_until
from forward_receiver import Receiver


def spool_files(folder):
    temp = folder.path("temp")
    if not os.path.isdir(temp):
        return {}
    result = {}
    for name in os.listdir(temp):
        if name.endswith(".txt"):
            try:
                with open(os.path.join(temp, name), "rb") as handle:
                    result[name] = handle.read()
            except OSError:
                pass  # taken by the uploader meanwhile
    return result


def spool_order(name):
    return int(name[:-4])


def upload_status(api_port):
    """The upload part of the agent's status report."""
    return harness.api_post(api_port, "c=60", timeout=10)["data"]["upload"]


# Longer than one post's own time limit (60 s), so that one post left
# without an answer holds its tick no longer than the wait.
POST_WAIT = 90


class ForwardTest(AgentTestCase):

    def receiver(self, **kwargs):
        receiver = Receiver(**kwargs).start()
        self.addCleanup(receiver.stop)
        return receiver

    def start_sampling(self, url, simulation=DEFAULT_SIMULATION, showread="0", api_port=0):
        return self.start_agent(
            config={"ITEMS": {"cf": "1", "showread": showread}, "APIS": {"api_host": url},
                    "HTTP": {"port": str(api_port)}},
            simulation=simulation)

    def assert_json_arrays(self, bodies):
        for body in bodies:
            records = json.loads(body.decode("utf-8"))
            self.assertIsInstance(records, list)
            self.assertTrue(records)
            for record in records:
                self.assertEqual(set(record), {"i", "v", "t"}, body)

    def test_ok_deletes_files_and_bodies_are_json_arrays_with_headers(self):
        receiver = self.receiver()
        folder, agent = self.start_sampling(receiver.url())
        wait_until(lambda: len(receiver.bodies()) >= 3, 40, what="three uploads")
        posts = receiver.snapshot()
        self.assert_json_arrays([p["body"] for p in posts])
        for post in posts:
            self.assertEqual(post["path"], "/in")
            self.assertEqual(post["headers"].get("charset"), "UTF-8")
            self.assertEqual(post["headers"].get("Content-Type"), "application/json")
        # Every accepted file is gone; only samples not yet sent may wait.
        # (The receiver sees a body before the agent deletes its file.)
        sent = set(receiver.bodies())
        wait_until(lambda: not any(b"[" + c + b"]" in sent for c in spool_files(folder).values()),
                   20, what="the accepted files deleted")
        self.assertTrue(any(b'"i":"Level"' in body for body in sent))

    def test_refusals_keep_files_and_the_backlog_arrives_oldest_first(self):
        receiver = self.receiver()
        receiver.set_mode("500")
        api_port = harness.free_port()
        folder, agent = self.start_sampling(receiver.url(), api_port=api_port)
        wait_until(lambda: len(receiver.bodies("500")) >= 2, POST_WAIT, what="posts answered 500")
        receiver.set_mode("ok")  # 200 but not exactly OK
        wait_until(lambda: len(receiver.bodies("ok")) >= 2, POST_WAIT, what="posts answered ok")
        receiver.set_mode("reset")
        wait_until(lambda: len(receiver.bodies("reset")) >= 1, POST_WAIT, what="a reset post")
        # No file was accepted yet: the first sample is still there.
        first = min(receiver.bodies("500")[:1])
        self.assertIn(first, [b"[" + c + b"]" for c in spool_files(folder).values()])

        # The receiver goes down; samples accumulate. The tick that was posting
        # into the resets goes on with its next file, so the backlog is brought
        # back only once a tick has ended on the refusal, as the status shows:
        # every later tick begins with the oldest file.
        port = receiver.port
        receiver.stop()
        wait_until(lambda: upload_status(api_port)["failure"].startswith("receiver not reached"),
                   POST_WAIT, what="a tick ended by the refusal")
        wait_until(lambda: len(spool_files(folder)) >= 5, POST_WAIT, what="a backlog of five files")
        backlog = spool_files(folder)
        ordered = [b"[" + backlog[n] + b"]" for n in sorted(backlog, key=spool_order)]

        back = self.receiver(port=port)
        wait_until(lambda: set(ordered) <= set(back.bodies("OK")), POST_WAIT, what="the whole backlog")
        received = [b for b in back.bodies("OK") if b in set(ordered)]
        # On a failure, what the receiver got, named by spool file.
        names = {b"[" + backlog[n] + b"]": n for n in backlog}
        arrivals = ["%s %s" % (names.get(p["body"], "(newer)"), p["answer"])
                    for p in back.snapshot()]
        self.assertEqual(received[:len(ordered)], ordered,
                         "oldest first and complete; backlog %s; arrivals %s\n--- console:\n%s"
                         % (sorted(backlog, key=spool_order), arrivals, agent.text()[-3000:]))
        self.assert_json_arrays(back.bodies())
        wait_until(lambda: not (set(backlog) & set(spool_files(folder))), 20,
                   what="the backlog's files deleted")

    def stop_during_a_long_drain(self, stop, deadline):
        """Starts a drain of 3000 files against a receiver answering in 20 ms,
        stops the agent with stop() and checks that it ends within deadline
        seconds and that every file is either delivered or still in the
        spool."""
        receiver = self.receiver()
        receiver.delay = 0.02
        folder = self.make_folder(config={"ITEMS": {"cf": "1"},
                                          "APIS": {"api_host": receiver.url()}})
        temp = folder.path("temp")
        os.makedirs(temp)
        backlog = {}
        for i in range(3000):
            name = "%d.txt" % (1700000000000 + i)
            backlog[name] = b'{"i":"Level","v":"%d","t":1700000000}' % i
            with open(os.path.join(temp, name), "wb") as handle:
                handle.write(backlog[name])
        agent = folder.start()
        wait_until(lambda: len(receiver.snapshot()) >= 20, 60, what="the drain under way")
        stop(agent)
        # Without the stop between files the agent would post the whole
        # backlog first, which takes more than a minute at 20 ms a file.
        self.assertEqual(agent.wait_exit(timeout=deadline), 0)
        delivered = set(receiver.bodies("OK"))
        left = set(os.listdir(temp))
        for name, content in backlog.items():
            self.assertTrue(name in left or b"[" + content + b"]" in delivered,
                            "%s neither delivered nor in the spool" % name)
        self.assertGreater(len(left & set(backlog)), 2000)

    @unittest.skipIf(IS_WINDOWS, "SIGTERM is the Linux build's orderly shutdown")
    def test_sigterm_during_a_long_drain_ends_at_once_and_loses_no_file(self):
        self.stop_during_a_long_drain(lambda agent: agent.signal(signal.SIGTERM), 2.0)

    @unittest.skipUnless(IS_WINDOWS, "closing the hidden window is the Windows build's "
                         "orderly shutdown (the operator's exits end the process at once)")
    def test_window_close_during_a_long_drain_ends_at_once_and_loses_no_file(self):
        def close_the_window(agent):
            # The hidden window comes after the workers have started.
            wait_until(lambda: answer_box("window", "TALVERO AGENT", 500)[0] == 0, 60,
                       what="the hidden window")
            self.assertEqual(answer_box("close", "TALVERO AGENT")[0], 0)
        # Under Wine about 1.6 s pass between posting the close and the
        # uploader's last post (measured), so the bound is looser; it still
        # fails by far a stop that waits for the backlog.
        self.stop_during_a_long_drain(close_the_window, 10.0)

    def test_redirects_307_and_308_are_followed_and_301_302_303_are_not(self):
        receiver = self.receiver()
        receiver.redirect = (307, "/moved")
        folder, agent = self.start_sampling(receiver.url())
        for status in (307, 308):
            receiver.redirect = (status, "/moved-%d" % status)
            wait_until(lambda: len([p for p in receiver.snapshot()
                                    if p["path"] == "/moved-%d" % status]) >= 2,
                       POST_WAIT, what="posts following the %d" % status)
        moved = [p for p in receiver.snapshot() if p["path"].startswith("/moved")]
        self.assert_json_arrays([p["body"] for p in moved])
        for post in moved:
            self.assertEqual(post["headers"].get("Content-Type"), "application/json")
        for status in (301, 302, 303):
            receiver.redirect = (status, "/gone-%d" % status)
            agent.wait_for("Upload not accepted: the receiver moved to %s"
                           % receiver.url().replace("/in", "/gone-%d" % status), POST_WAIT)
        # Nothing went to the new locations, and the samples since wait.
        self.assertFalse([p for p in receiver.snapshot() if p["path"].startswith("/gone")])
        wait_until(lambda: len(spool_files(folder)) >= 2, 20, what="samples kept in the spool")

    def test_a_file_never_answered_does_not_hold_back_the_newer_ones(self):
        receiver = self.receiver()
        receiver.unanswered = b"Refused by the network"
        folder = self.make_folder(config={"ITEMS": {"cf": "1"},
                                          "APIS": {"api_host": receiver.url()}})
        os.makedirs(folder.path("temp"))
        stuck = folder.path("temp", "1700000000000.txt")
        with open(stuck, "wb") as handle:
            handle.write(b'{"i":"Name","v":"Refused by the network","t":1700000000}')
        agent = folder.start()
        # Named by its full path (a Windows path under Wine).
        text = agent.wait_for("1700000000000.txt got no answer in 3 ticks in a row", POST_WAIT)
        self.assertIn("\nUpload of ", text)
        # The samples written after it were delivered all the same.
        self.assertTrue(receiver.bodies("OK"))
        self.assertTrue(os.path.exists(stuck))
        wait_until(lambda: len(receiver.bodies("reset")) >= 5, POST_WAIT, what="two more ticks")
        self.assertEqual(agent.text().count("got no answer"), 1)

    def test_empty_api_host_sends_nothing_and_keeps_files(self):
        receiver = self.receiver()
        folder, agent = self.start_sampling("")
        wait_until(lambda: len(spool_files(folder)) >= 3, 40, what="three spool files")
        first = spool_files(folder)
        wait_until(lambda: len(spool_files(folder)) >= len(first) + 1, 40, what="one more file")
        self.assertTrue(set(first) <= set(spool_files(folder)), "no file was taken")
        self.assertEqual(receiver.snapshot(), [])

    def test_showread_prints_each_sample(self):
        receiver = self.receiver()
        folder, agent = self.start_sampling(receiver.url(), showread="1")
        text = agent.wait_for("\nRead:{", 40, count=2)
        sample = text.split("\nRead:", 1)[1].split("\n", 1)[0]
        first_line = sample.split("\nRead:")[0]
        self.assertTrue(first_line.startswith('{"i":"'), first_line)

    def test_api_reads_of_all_items_leave_the_changes_to_the_receiver(self):
        receiver = self.receiver()
        port = harness.free_port()
        folder, agent = self.start_agent(
            config={"ITEMS": {"cf": "1"}, "APIS": {"api_host": receiver.url()},
                    "HTTP": {"port": str(port)}})
        agent.wait_for("The http server started on port %d successfully!" % port, 40)
        wait_until(lambda: any(b'"i":"Setpoint","v":"2.500000"' in b for b in receiver.bodies()),
                   40, what="the first upload of Setpoint")

        self.assertEqual(
            harness.api_post(port, "c=40&group=Channel1&item=Device1&tagkvs=Setpoint:7.5"),
            {"code": 200, "data": "ok"})
        # A dashboard reads every item far more often than the sampler runs;
        # what it is shown must still reach the receiver.
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            answer = harness.api_post(port, "c=30&group=Channel1&item=Device1&tags=")
            self.assertIn({"i": "Setpoint", "v": "7.500000"},
                          [{"i": r["i"], "v": r["v"]} for r in answer["data"]])
            time.sleep(0.05)
        wait_until(lambda: any(b'"i":"Setpoint","v":"7.500000"' in b for b in receiver.bodies()),
                   40, what="the written Setpoint uploaded")

    def test_non_ascii_values_arrive_in_utf8(self):
        receiver = self.receiver()
        simulation = DEFAULT_SIMULATION.replace("static,pump one", "static,Pumpe \u00fc")
        folder, agent = self.start_sampling(receiver.url(), simulation=simulation)
        wait_until(lambda: any("Pumpe \u00fc".encode("utf-8") in b for b in receiver.bodies()),
                   40, what="the non-ASCII value")
        self.assert_json_arrays(receiver.bodies())

    @unittest.skipIf(IS_WINDOWS, "https with a test certificate is checked on the Linux build")
    def test_https_with_a_trusted_test_certificate(self):
        if not shutil.which("openssl"):
            self.skipTest("openssl is not installed")
        folder = self.make_folder()
        key = os.path.join(folder.root, "key.pem")
        cert = os.path.join(folder.root, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", key, "-out", cert], check=True, capture_output=True)
        receiver = self.receiver(certificate=(cert, key))
        folder.config["ITEMS"]["cf"] = "1"
        folder.config["APIS"]["api_host"] = receiver.url("https")
        from harness import render_ini
        folder.write("config.ini", render_ini(folder.config))
        agent = folder.start(env={"CURL_CA_BUNDLE": cert})
        wait_until(lambda: len(receiver.bodies("OK")) >= 2, 40, what="uploads over https")
        self.assert_json_arrays(receiver.bodies())


if __name__ == "__main__":
    unittest.main()
