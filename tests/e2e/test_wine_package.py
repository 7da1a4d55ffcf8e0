"""The Windows package as an operator gets it: unpacked from the zip that
scripts/package makes, registered with its own command file, started, asked
for a tag over the API, and ended."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

import harness
from harness import IS_WINDOWS


@unittest.skipUnless(IS_WINDOWS, "the package holds the Windows build")
class WinePackageTest(unittest.TestCase):

    def test_unpacked_package_starts_and_answers_a_read(self):
        work = tempfile.mkdtemp(prefix="talvero-package-")
        self.addCleanup(shutil.rmtree, work, True)
        build = os.environ.get("TALVERO_BUILD_DIR") or os.path.dirname(harness.AGENT)
        archive = os.path.join(work, "talvero-agent-win64.zip")
        subprocess.run([os.path.join(harness.REPO, "scripts", "package"), build, archive],
                       check=True, stdout=subprocess.DEVNULL, timeout=120)
        with zipfile.ZipFile(archive) as package:
            package.extractall(work)
        root = os.path.join(work, "talvero-agent-win64")
        for name in ("talvero-agent.exe", "data/config.ini", "data/tags.txt", "data/logo.ico",
                     "README.txt", "register-simulation.cmd"):
            self.assertTrue(os.path.isfile(os.path.join(root, name)), name)

        # The shipped settings, with only the port changed to a free one.
        port = harness.free_port()
        config_path = os.path.join(root, "data", "config.ini")
        with open(config_path, "rb") as handle:
            config = handle.read()
        config, replaced = re.subn(rb"(?m)^port=\d+", b"port=%d" % port, config)
        self.assertEqual(replaced, 1)
        with open(config_path, "wb") as handle:
            handle.write(config)

        self.addCleanup(harness.end_wine_session)
        code, output = harness.wine_program(
            "cmd", "/c", harness.windows_path(os.path.join(root, "register-simulation.cmd")),
            timeout=120)
        self.assertEqual(code, 0, output)
        self.assertIn("The simulation server is registered.", output)

        log_path = os.path.join(work, "console.txt")
        with open(log_path, "wb") as log:
            agent = subprocess.Popen([harness.WINE_RUN, os.path.join(root, "talvero-agent.exe")],
                                     cwd=root, stdout=log, stderr=subprocess.DEVNULL,
                                     stdin=subprocess.DEVNULL)
        self.addCleanup(self.end, agent)

        def console():
            with open(log_path, "rb") as handle:
                return handle.read().decode("utf-8", "replace")
        harness.wait_until(lambda: "Items update completed!" in console(), timeout=90,
                           what=lambda: "the items added; console:\n" + console())

        body = harness.api_post(port, "c=30&group=Channel1&item=Device1&tags=Name")
        self.assertEqual(body["code"], 200, body)
        self.assertEqual([(r["i"], r["v"]) for r in body["data"]], [("Name", "pump one")])

    @staticmethod
    def end(process):
        if process.poll() is None:
            process.kill()
            process.wait(timeout=20)


if __name__ == "__main__":
    unittest.main()
