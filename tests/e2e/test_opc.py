"""The OPC side of the agent as an operator sees it: discovery, connection,
items added, reconnection and the tags file kept in step with the server."""
import os
import time
import unittest

import harness
from harness import AgentTestCase, DEFAULT_SIMULATION, IS_WINDOWS, wait_until


def simulation(fail="", others="", extra_items=""):
    text = DEFAULT_SIMULATION.replace("fail=\n", "fail=%s\n" % fail)
    text = text.replace("others=\n", "others=%s\n" % others)
    return text + extra_items


# These cases drive the Linux build's in-process simulation server (its file
# switches, simulation.down, system texts). The Windows build reaches the COM
# hosts of the same engine, which their own suite starts and registers.
LINUX_ONLY = unittest.skipIf(IS_WINDOWS, "runs against the in-process simulation server")


def resident_kib(pid):
    """The resident memory of a process in KiB (VmRSS of /proc)."""
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS for process %d" % pid)


def store_time(folder):
    """The item store's write time; None while a refresh has it deleted."""
    try:
        return os.stat(folder.path("items.db")).st_mtime_ns
    except FileNotFoundError:
        return None


def await_store_rewrites(folder, count):
    """Waits until the supervisor has written the item store count more times
    (once per tick with itemscf 1)."""
    for _ in range(count):
        before = wait_until(lambda: store_time(folder), what="the item store")
        wait_until(lambda: store_time(folder) not in (None, before),
                   what="the item store written again")


@LINUX_ONLY
class DiscoveryTest(AgentTestCase):

    def run_to_exit(self, **kwargs):
        folder, agent = self.start_agent(**kwargs)
        self.assertEqual(agent.wait_exit(30), 0)
        return agent.text()

    def test_server_list_missing_ends_the_agent(self):
        text = self.run_to_exit(simulation=simulation(fail="list"))
        self.assertIn("\nFinding opc server on localhost ...Error:", text)
        if not IS_WINDOWS:
            self.assertIn("Error:Class not registered\nNo opc server found.", text)
        self.assertTrue(text.endswith("\nNo opc server found."), text)

    def test_enumeration_failure_ends_the_agent(self):
        text = self.run_to_exit(simulation=simulation(fail="enum"))
        if not IS_WINDOWS:
            self.assertIn("Error:Unspecified error\nNo opc server found.", text)
        self.assertNotIn("Opc server found:", text)
        self.assertTrue(text.endswith("\nNo opc server found."), text)

    def test_no_matching_progid_lists_the_servers_and_ends(self):
        text = self.run_to_exit(config={"ITEMS": {"progid": "Someone.Else.1"}},
                                simulation=simulation(others="Other.One.1|Other"))
        self.assertIn("\nOpc server found:\n1: ProgID = Other.One.1 (Other)"
                      "\n2: ProgID = Talvero.Simulation.1 (Talvero Simulation Server)"
                      "\nNo matching progid server found", text)
        self.assertNotIn("Connecting", text)

    @unittest.skipIf(IS_WINDOWS, "Windows tries real DCOM to the host")
    def test_remote_discovery_fails_with_a_system_text(self):
        text = self.run_to_exit(config={"SERVER": {"isremote": "1", "host": "198.51.100.7"}})
        self.assertIn("\nFinding opc server on 198.51.100.7 ...Error:The RPC server is unavailable."
                      "\nNo opc server found.", text)

    def test_two_servers_matching_in_other_case_the_later_wins(self):
        folder, agent = self.start_agent(
            config={"ITEMS": {"progid": "TALVERO.simulation.1"}},
            simulation=simulation(others="talvero.SIMULATION.1|Impostor"))
        text = agent.wait_for("Successfully communicated to server!")
        self.assertIn("\n1: ProgID = talvero.SIMULATION.1 (Impostor)"
                      "\n2: ProgID = Talvero.Simulation.1 (Talvero Simulation Server)"
                      "\nConnecting to opc server: localhost...\nSuccessfully connected to server!",
                      text)
        agent.wait_for("\n6:[OK] Serial")


class ItemSetTest(AgentTestCase):

    def test_items_added_one_tick_later_with_ok_and_no_lines(self):
        folder, agent = self.start_agent(tags="Level\n\nBogus\nCount")
        agent.wait_for("Successfully communicated to server!")
        text = agent.wait_for("Failure 1")
        self.assertIn("\nItems adding...!\n1:[OK] Level\n2:[NO] Bogus\n3:[OK] Count"
                      "\nItems update completed! Success 2, Failure 1", text)

    def test_tags_file_lines_are_the_names_without_what_an_editor_adds(self):
        # A byte-order mark, CR LF line ends, a trailing blank and tab, empty
        # lines and a name listed twice.
        folder, agent = self.start_agent(
            tags="\ufeffLevel \r\nCount\r\n\r\n  \r\nLevel\r\nSetpoint\t\r\nLevel\r\n")
        text = agent.wait_for("Items update completed!")
        self.assertIn("\nItems adding...!\n1:[OK] Level\n2:[OK] Count\n3:[OK] Setpoint"
                      "\nItems update completed! Success 3, Failure 0", text)
        self.assertEqual(text.count("Tag listed more than once, added once: Level"), 1, text)
        self.assertNotIn("[NO]", text)

    def test_reloads_let_go_of_the_previous_items(self):
        # The server writes how many items it holds after every change; a
        # reload that only added would leave it holding every set ever added.
        count = 500 if IS_WINDOWS else 2000
        names = ["T%04d" % i for i in range(count)]
        items = "".join("Channel1.Device1.%s=VT_I4,static,%d\n" % (name, i)
                        for i, name in enumerate(names))
        sim = DEFAULT_SIMULATION.replace("delay=0\n", "delay=0\ncounts=1\n") + items
        folder, agent = self.start_agent(simulation=sim, tags="\n".join(names) + "\n")
        reloads = 40
        rss = {}
        for done in range(1, reloads + 1):
            agent.wait_for("Items update completed! Success %d, Failure 0" % count, count=done,
                           timeout=60)
            if done in (10, reloads) and not IS_WINDOWS:
                rss[done] = resident_kib(agent.pid)
            if done < reloads:
                # Each reload a real change: the names in the other order.
                folder.write("tags.txt", "\n".join(names[::-1] if done % 2 else names) + "\n")
        self.assertEqual(folder.read("simulation.counts"), b"items=%d\n" % count)
        if not IS_WINDOWS:
            # Before, each reload left a copy of every item with the server
            # (about 60 bytes an item here): 30 reloads grew it by 3.6 MB.
            self.assertLess(rss[reloads] - rss[10], 1024, rss)

    def test_empty_tags_file_adds_nothing(self):
        folder, agent = self.start_agent(tags="")
        agent.wait_for("\nNo item added")

    def test_touched_tags_file_is_reloaded(self):
        folder, agent = self.start_agent()
        agent.wait_for("Items update completed!")
        later = time.time() + 5
        os.utime(folder.path("tags.txt"), (later, later))
        text = agent.wait_for("Items update completed!", count=2)
        self.assertEqual(text.count("\n1:[OK] Level"), 2)

    def test_autoitems_writes_the_store_and_copies_it_once(self):
        folder, agent = self.start_agent(
            config={"ITEMS": {"autoitems": "1", "itemscf": "1", "itemstarts": "Le,Co"}},
            tags="Stale\n")
        text = agent.wait_for("Items update completed!")
        self.assertEqual(folder.read("items.db"), b"Level\nCount\n")
        self.assertEqual(folder.read("tags.txt"), b"Level\nCount\n")
        self.assertIn("\n1:[OK] Level\n2:[OK] Count\nItems update", text)
        self.assertNotIn("Stale", text)
        # The same browse again: the store is made anew every tick, the
        # operator's edit of the tags file stays.
        folder.write("tags.txt", "Level\n")
        agent.wait_for("Items update completed!", count=2)
        await_store_rewrites(folder, 2)
        self.assertEqual(folder.read("tags.txt"), b"Level\n")

    @LINUX_ONLY
    def test_a_failed_browse_keeps_the_tags_file_and_reconnects(self):
        # No sampling read in the meantime (cf 30): only the refresh sees the
        # server go.
        folder, agent = self.start_agent(
            config={"ITEMS": {"autoitems": "1", "itemscf": "1", "cf": "30"}})
        agent.wait_for("Items update completed!")
        tags = folder.read("tags.txt")
        self.assertEqual(tags, b"Level\nCount\nSetpoint\nName\nRunning\nSerial\n")
        folder.write("simulation.down", "")
        agent.wait_for("\nBrowse error")
        agent.wait_for("\nConnect to opc server failed, retrying...")
        self.assertEqual(folder.read("tags.txt"), tags)
        self.assertEqual(folder.read("items.db"), tags)
        os.remove(folder.path("simulation.down"))
        agent.wait_for("Successfully communicated to server!", count=2)
        self.assertEqual(folder.read("tags.txt"), tags)

    @unittest.skipIf(IS_WINDOWS, "the Windows message box is answered by the Wine suites")
    def test_missing_tags_file_is_told_once_and_loaded_when_it_returns(self):
        folder, agent = self.start_agent(config={"ITEMS": {"autoitems": "1", "itemscf": "1"}})
        agent.wait_for("Items update completed!")
        os.remove(folder.path("tags.txt"))
        wait_until(lambda: "tags file isn't exists" in agent.error_text(), what="the message box")
        # Three more ticks, each of which writes the item store anew.
        await_store_rewrites(folder, 3)
        self.assertEqual(agent.error_text().count("tags file isn't exists"), 1)
        folder.write("tags.txt", "Level\n")
        text = agent.wait_for("Items update completed!", count=2)
        self.assertTrue(text.endswith("\n1:[OK] Level\nItems update completed! Success 1, Failure 0"),
                        text)


class WriteTest(AgentTestCase):

    def test_a_value_that_is_not_a_number_is_not_written(self):
        port = harness.free_port()
        folder, agent = self.start_agent(config={"HTTP": {"port": str(port)}})
        agent.wait_for("Items update completed!", timeout=60)

        def write(tagkvs):
            return harness.api_post(port, "c=40&group=Channel1&item=Device1&tagkvs=" + tagkvs)

        def values(tags):
            answer = harness.api_post(port, "c=30&group=Channel1&item=Device1&tags=" + tags)
            return {record["i"]: record["v"] for record in answer["data"]}

        for text in ("abc", "12abc", "", "1e999"):
            self.assertEqual(write("Setpoint:" + text), {"code": 201, "msg": "error"}, text)
            agent.wait_for('\nWrite refused: Setpoint: "%s" is not a number' % text)
        # The other entries of the request are written.
        self.assertEqual(write("Setpoint:12abc,Name:kept"), {"code": 201, "msg": "error"})
        self.assertEqual(write("Count:3.5"), {"code": 201, "msg": "error"})
        agent.wait_for('\nWrite refused: Count: "3.5" is not a whole number from -2147483648 '
                       'to 2147483647')
        self.assertEqual(values("Setpoint,Name"), {"Setpoint": "2.500000", "Name": "kept"})
        self.assertEqual(write("Setpoint:7.25"), {"code": 200, "data": "ok"})
        self.assertEqual(values("Setpoint"), {"Setpoint": "7.250000"})


class ConnectionTest(AgentTestCase):

    def test_failed_connection_retries_each_second_and_recovers(self):
        folder, agent = self.start_agent(simulation=simulation(fail="create"))
        agent.wait_for("\nConnect to opc server failed.")
        agent.wait_for("\nConnect to opc server failed, retrying...")
        first = time.monotonic()
        text = agent.wait_for("\nConnect to opc server failed, retrying...", count=3)
        self.assertGreater(time.monotonic() - first, 1.5)
        self.assertIn("retrying...\nConnecting to opc server: localhost...", text)
        folder.write("simulation.ini", simulation())
        agent.wait_for("Successfully communicated to server!")
        text = agent.wait_for("\n6:[OK] Serial")
        self.assertIn("Success 6, Failure 0", agent.wait_for("Success 6"))

    @unittest.skipIf(IS_WINDOWS, "the Windows suite stops the COM server instead")
    def test_server_gone_is_noticed_by_a_read_and_items_are_added_again(self):
        # The sampler reads every second; its failed read marks the session lost.
        folder, agent = self.start_agent(config={"ITEMS": {"cf": "1"}})
        agent.wait_for("Items update completed!")
        folder.write("simulation.down", "")
        agent.wait_for("\nRead error")
        text = agent.wait_for("\nConnect to opc server failed, retrying...", count=2)
        self.assertIn("retrying...\nConnecting to opc server: localhost...", text)
        os.remove(folder.path("simulation.down"))
        agent.wait_for("Successfully communicated to server!", count=2)
        text = agent.wait_for("Items update completed!", count=2)
        self.assertEqual(text.count("\n6:[OK] Serial"), 2)


if __name__ == "__main__":
    unittest.main()
