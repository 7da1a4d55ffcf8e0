"""The agent killed again and again while it samples and uploads loses nothing."""
import json
import os
import random
import unittest

from harness import AgentTestCase, wait_until
from forward_receiver import Receiver

KILLS = 8


def identity(path):
    """Which file a name holds: its inode and change time, None when absent."""
    try:
        status = os.stat(path)
    except FileNotFoundError:
        return None
    return status.st_ino, status.st_ctime_ns


class ForwardCrashTest(AgentTestCase):

    def test_kills_leave_no_partial_file_and_lose_no_spool_file(self):
        receiver = Receiver().start()
        self.addCleanup(receiver.stop)
        folder = self.make_folder(config={"ITEMS": {"cf": "0"},
                                          "APIS": {"api_host": receiver.url()}})
        temp = folder.path("temp")
        chance = random.Random(6)
        for round_number in range(KILLS):
            # Slow answers on every other round keep a backlog in flight at the kill.
            receiver.set_mode("OK" if round_number % 2 == 0 else "500")
            before = len(receiver.snapshot())
            agent = folder.start()
            wait_until(lambda: len(receiver.snapshot()) > before, 40,
                       what="an upload in round %d" % round_number)
            wait_until(lambda: len(receiver.snapshot()) > before + chance.randint(0, 3), 40,
                       what="some more uploads")
            agent.kill()

            left = {}
            temporaries = []
            for name in os.listdir(temp):
                path = os.path.join(temp, name)
                if name.endswith(".txt"):
                    with open(path, "rb") as handle:
                        left[name] = handle.read()
                else:
                    temporaries.append((name, identity(path)))
            for name, content in left.items():
                records = json.loads(b"[" + content + b"]")  # a partial file would not parse
                self.assertTrue(records, name)

            # After the restart every file that existed at the kill is delivered
            # again, even one the receiver took just before the kill.
            receiver.set_mode("OK")
            restarted_at = len(receiver.snapshot())
            agent = folder.start()
            wanted = {b"[" + c + b"]" for c in left.values()}

            def delivered_since_restart():
                posts = receiver.snapshot()[restarted_at:]
                bodies = {p["body"] for p in posts if p["answer"] == "OK"}
                return bool(posts) and wanted <= bodies

            wait_until(delivered_since_restart, 60,
                       what="delivery of %d files left at kill %d" % (len(wanted), round_number))
            agent.wait_for("Press Ctrl+C to exit from the system.")  # printed after the clean-up
            for name, left_at_kill in temporaries:
                # The restarted agent may write a temporary of the same name
                # (back-to-back samples take names ahead of the clock), but
                # not keep the one the kill left.
                self.assertNotEqual(identity(os.path.join(temp, name)), left_at_kill,
                                    "temporary %s removed at start" % name)
            agent.kill()

        for body in receiver.bodies():
            self.assertIsInstance(json.loads(body.decode("utf-8")), list)


if __name__ == "__main__":
    unittest.main()
