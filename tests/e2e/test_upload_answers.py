"""What the receiver answers an upload with: an answer without end, a huge
one, a certificate no one signed, and the key that names each file."""
import os
import re
import shutil
import tempfile
import unittest

import harness
from harness import AgentTestCase, IS_WINDOWS, wait_until
from forward_receiver import Receiver, self_signed_certificate

# Longer than one post's own time limit (60 s).
POST_WAIT = 90
SPOOL_NAME = "1700000000000.txt"
SPOOL_CONTENT = b'{"i":"Level","v":"1","t":1700000000}'


def upload_failure(api_port):
    """The last upload failure the agent's status report names."""
    return harness.api_post(api_port, "c=60", timeout=10)["data"]["upload"]["failure"]


def peak_memory_kb(agent):
    """The agent's peak resident memory (VmHWM) in kB; under Wine, that of
    the Wine process that runs it."""
    pids = [agent.pid]
    if IS_WINDOWS:
        pids = harness.wine_process_ids("talvero-agent.exe", prefix=harness.wine_prefix())
    peaks = []
    for pid in pids:
        with open("/proc/%d/status" % pid) as handle:
            peaks += [int(line.split()[1]) for line in handle if line.startswith("VmHWM:")]
    if not peaks:
        raise AssertionError("no memory figures for the agent (processes %s)" % pids)
    return max(peaks)


# The agent's own peak is some 13 MB natively and some 35 MB under Wine; the
# answers refused here come to gigabytes.
PEAK_LIMIT_KB = (128 if IS_WINDOWS else 64) * 1024


class UploadAnswersTest(AgentTestCase):

    def receiver(self, **kwargs):
        receiver = Receiver(**kwargs).start()
        self.addCleanup(receiver.stop)
        return receiver

    def start_with_one_file(self, url):
        """An agent sampling every second and posting to url, with one spool
        file of a known name waiting; returns (folder, agent, API port)."""
        api_port = harness.free_port()
        folder = self.make_folder(config={"ITEMS": {"cf": "1"}, "APIS": {"api_host": url},
                                          "HTTP": {"port": str(api_port)}})
        os.makedirs(folder.path("temp"))
        with open(folder.path("temp", SPOOL_NAME), "wb") as handle:
            handle.write(SPOOL_CONTENT)
        agent = folder.start()
        agent.wait_for("The http server started on port %d successfully!" % api_port, 60)
        return folder, agent, api_port

    def test_answers_beyond_the_limit_fail_the_upload_and_keep_the_file(self):
        receiver = self.receiver()
        receiver.body_bytes = -1
        folder, agent, api_port = self.start_with_one_file(receiver.url())
        # Each answer is 200 and never ends; one that was read to its end
        # would hold the first tick for its whole time limit.
        for body_bytes, what in ((-1, "without end"), (50 * 1024 * 1024, "of 50 MB")):
            receiver.body_bytes = body_bytes
            seen = len(receiver.snapshot())
            wait_until(lambda: len(receiver.snapshot()) >= seen + 10, POST_WAIT,
                       what="ten answers %s refused" % what)
            wait_until(lambda: upload_failure(api_port) == "answer too large", 20,
                       what="the status naming the answer %s" % what)
            self.assertIsNone(agent.popen.poll(), agent.text()[-2000:])
            self.assertTrue(os.path.exists(folder.path("temp", SPOOL_NAME)))
            self.assertLess(peak_memory_kb(agent), PEAK_LIMIT_KB, what)
        # The same file is accepted once the receiver answers as it should.
        receiver.body_bytes = None
        wait_until(lambda: not os.path.exists(folder.path("temp", SPOOL_NAME)), POST_WAIT,
                   what="the file accepted at last")
        self.assertIn(b"[" + SPOOL_CONTENT + b"]", receiver.bodies("OK"))

    def test_every_upload_names_its_file_as_idempotency_key(self):
        receiver = self.receiver()
        folder, agent, api_port = self.start_with_one_file(receiver.url())
        wait_until(lambda: len(receiver.bodies("OK")) >= 3, POST_WAIT, what="three uploads")
        posts = receiver.snapshot()
        first = [p for p in posts if p["body"] == b"[" + SPOOL_CONTENT + b"]"]
        self.assertTrue(first, "the waiting file was posted")
        self.assertEqual(first[0]["headers"].get("Idempotency-Key"), SPOOL_NAME)
        # Each key names one file, so it always comes with that file's body.
        bodies = {}
        for post in posts:
            key = post["headers"].get("Idempotency-Key") or ""
            self.assertRegex(key, re.compile(r"^[0-9]+\.txt$"))
            self.assertEqual(bodies.setdefault(key, post["body"]), post["body"], key)
        self.assertGreaterEqual(len(bodies), 3)

    def test_a_receiver_with_a_certificate_no_one_signed_is_a_tls_failure(self):
        place = tempfile.mkdtemp(prefix="talvero-cert-")
        self.addCleanup(shutil.rmtree, place, True)
        certificate = self_signed_certificate(place)
        if certificate is None:
            self.skipTest("openssl is not installed")
        receiver = self.receiver(certificate=certificate)
        folder, agent, api_port = self.start_with_one_file(receiver.url("https"))
        wait_until(lambda: upload_failure(api_port) == "TLS certificate not trusted", POST_WAIT,
                   what="the status naming the untrusted certificate")
        self.assertEqual(receiver.snapshot(), [], "nothing was posted to it")
        self.assertTrue(os.path.exists(folder.path("temp", SPOOL_NAME)))


if __name__ == "__main__":
    unittest.main()
