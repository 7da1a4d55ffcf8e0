"""The uploader and the spool watch against faults of the spool folder and
of the receiver: files that cannot be deleted, files that are no spool files,
receivers that refuse, hang or are away, and names from a clock running
ahead."""
import os
import shutil
import subprocess
import time
import unittest

import harness
from harness import AgentTestCase, IS_WINDOWS, wait_until
from forward_receiver import HoldingReceiver, Receiver

# Longer than one post's own time limit (60 s), so that one post left
# without an answer holds its tick no longer than the wait.
POST_WAIT = 90


def upload_status(api_port):
    """The upload part of the agent's status report."""
    return harness.api_post(api_port, "c=60", timeout=10)["data"]["upload"]


class UploadFaultTest(AgentTestCase):

    def receiver(self, **kwargs):
        receiver = Receiver(**kwargs).start()
        self.addCleanup(receiver.stop)
        return receiver

    def spool_folder(self, url, api_port=0, files=None):
        """A folder for an agent sampling every second and posting to url,
        its spool holding files (name: content) before it starts."""
        folder = self.make_folder(config={"ITEMS": {"cf": "1"}, "APIS": {"api_host": url},
                                          "HTTP": {"port": str(api_port)}})
        temp = folder.path("temp")
        os.makedirs(temp)
        for name, content in (files or {}).items():
            with open(os.path.join(temp, name), "wb") as handle:
                handle.write(content)
        return folder, temp

    def test_only_spool_files_are_posted_and_any_other_is_named_once(self):
        receiver = self.receiver()
        foreign = {"notes.txt": b"meeting at ten",
                   "1765240265123 (copy).txt": b'{"i":"Level","v":"copy","t":1765240265}'}
        spool = {"1765240265123.txt": b'{"i":"Level","v":"1","t":1765240265}'}
        folder, temp = self.spool_folder(receiver.url(), files=dict(foreign, **spool))
        agent = folder.start()
        for name in foreign:
            agent.wait_for(name, 40)
        wait_until(lambda: len(receiver.bodies("OK")) >= 3, 40, what="three uploads")
        wait_until(lambda: not os.path.exists(os.path.join(temp, "1765240265123.txt")), 20,
                   what="the spool file delivered and deleted")
        for name, content in foreign.items():
            with open(os.path.join(temp, name), "rb") as handle:
                self.assertEqual(handle.read(), content, name)
            self.assertNotIn(b"[" + content + b"]", receiver.bodies())
        self.assertEqual(agent.text().count("\nNot a spool file, left in place: "), 2)
        self.assertIn(b"[" + spool["1765240265123.txt"] + b"]", receiver.bodies())

    def test_why_uploads_fail_is_told_once_per_change_of_reason(self):
        receiver = self.receiver()
        receiver.set_mode("OK\n")
        folder, temp = self.spool_folder(receiver.url())
        agent = folder.start()
        agent.wait_for('\nUpload not accepted: answered "OK\\n"', POST_WAIT)
        wait_until(lambda: len(receiver.bodies("OK\n")) >= 5, POST_WAIT, what="five posts refused")
        receiver.set_mode("500")
        agent.wait_for("\nUpload not accepted: status 500", POST_WAIT)
        wait_until(lambda: len(receiver.bodies("500")) >= 5, POST_WAIT, what="five posts refused")
        receiver.set_mode("OK")
        wait_until(lambda: len(receiver.bodies("OK")) >= 5, POST_WAIT, what="the backlog accepted")
        receiver.stop()
        agent.wait_for("\nUpload not accepted: receiver not reached", POST_WAIT)
        text = agent.text()
        # One line per reason, however many posts got it.
        self.assertEqual(text.count('answered "OK\\n"'), 1, text)
        self.assertEqual(text.count("status 500"), 1, text)

    def make_undeletable(self, temp, names):
        """Makes the files undeletable and returns a function that undoes
        it. Under Wine the files become read-only, which Windows does not
        delete (Wine would report the delete of an immutable file done and
        keep the file). Natively a user other than root loses the folder's
        write permission; root ignores that, and its files are made
        immutable instead."""
        paths = [os.path.join(temp, name) for name in names]
        if IS_WINDOWS:
            for path in paths:
                os.chmod(path, 0o444)
            undo = lambda: [os.chmod(path, 0o644) for path in paths if os.path.exists(path)]
        elif os.geteuid() != 0:
            os.chmod(temp, 0o555)
            undo = lambda: os.chmod(temp, 0o755)
        else:
            if not shutil.which("chattr") or subprocess.run(
                    ["chattr", "+i"] + paths, capture_output=True).returncode != 0:
                self.skipTest("root can make no file undeletable here (chattr +i); "
                              "UploaderTest.AcceptedFileThatCannotBeDeleted* covers it")
            undo = lambda: subprocess.run(["chattr", "-i"] + paths, capture_output=True)
        self.addCleanup(undo)
        return undo

    def test_an_accepted_file_that_cannot_be_deleted_is_told_and_not_posted_again(self):
        receiver = self.receiver()
        api_port = harness.free_port()
        spool = {"%d.txt" % (1700000000000 + i): b'{"i":"Level","v":"%d","t":1700000000}' % i
                 for i in range(4)}
        folder, temp = self.spool_folder(receiver.url(), api_port, spool)
        allow_deletes = self.make_undeletable(temp, spool)
        agent = folder.start()
        for name in spool:
            agent.wait_for(name + " accepted, but the file cannot be deleted: ", POST_WAIT)
        # Three more ticks, each trying the deletes again and failing.
        failures = set()

        def three_ticks_failed():
            upload = upload_status(api_port)
            if upload["failure"].startswith("accepted but not deleted: "):
                failures.add(upload["failed"])
            return len(failures) >= 3
        wait_until(three_ticks_failed, POST_WAIT, what="three ticks failing to delete")
        bodies = receiver.bodies()
        for name, content in spool.items():
            self.assertEqual(bodies.count(b"[" + content + b"]"), 1, name)
        self.assertEqual(agent.text().count("cannot be deleted"), 4, agent.text())

        allow_deletes()
        wait_until(lambda: not set(spool) & set(os.listdir(temp)), POST_WAIT,
                   what="the accepted files deleted")
        bodies = receiver.bodies()
        for name, content in spool.items():
            self.assertEqual(bodies.count(b"[" + content + b"]"), 1, name)

    def test_the_spool_watch_speaks_while_a_post_waits_for_its_answer(self):
        receiver = HoldingReceiver().start()
        self.addCleanup(receiver.stop)
        hour_ago = int(time.time() * 1000) - 3600 * 1000
        spool = {"%d.txt" % (hour_ago + i): b'{"i":"Level","v":"%d","t":1700000000}' % i
                 for i in range(3)}
        folder, temp = self.spool_folder(receiver.url(), files=spool)
        agent = folder.start()
        agent.wait_for("\nUpload backlog: ", POST_WAIT)
        # The first post still waits for its answer (a post is given 60 s):
        # the uploader has not got past it, and the watch spoke all the same.
        self.assertLessEqual(len(receiver.received()), 1)

    def test_a_name_from_a_clock_running_ahead_does_not_mute_the_backlog(self):
        away = Receiver().start()
        url = away.url()
        away.stop()  # nobody answers on its port
        years_ahead = int(time.time() * 1000) + 5 * 365 * 24 * 3600 * 1000
        folder, temp = self.spool_folder(
            url, files={"%d.txt" % years_ahead: b'{"i":"Level","v":"1","t":1700000000}'})
        agent = folder.start()
        text = agent.wait_for("\nUpload backlog: ", 60)
        line = text.split("\nUpload backlog: ", 1)[1].split("\n", 1)[0]
        shown_year = int(line.rsplit("the oldest from ", 1)[1][:4])
        self.assertLessEqual(shown_year, time.localtime().tm_year + 1, line)


if __name__ == "__main__":
    unittest.main()
