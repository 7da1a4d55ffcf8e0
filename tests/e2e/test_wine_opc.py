"""The Windows agent against the simulation COM servers under Wine: discovery
through the server-list service, items added, a killed server noticed by the
next read and a relaunched one connected again, remote discovery."""
import os
import unittest

import harness
from harness import AgentTestCase, IS_WINDOWS, wait_until


@unittest.skipUnless(IS_WINDOWS, "the COM simulation servers exist in the Windows build only")
class WineOpcTest(AgentTestCase):

    def test_server_found_through_the_server_list_and_items_added(self):
        folder, agent = self.start_agent()
        text = agent.wait_for("Successfully communicated to server!", timeout=60)
        self.assertIn("\nOpc server found:", text)
        self.assertIn("ProgID = Talvero.Simulation.1 (Talvero Simulation Server)", text)
        self.assertIn("\nConnecting to opc server: localhost...", text)

    def test_items_added_over_com(self):
        folder, agent = self.start_agent()
        text = agent.wait_for("\n6:[OK] Serial", timeout=60)
        self.assertIn("\n1:[OK] Level", text)

    def test_killed_server_fails_the_read_and_a_relaunched_one_is_connected(self):
        folder, agent = self.start_agent(config={"ITEMS": {"cf": "1"}})
        agent.wait_for("Items update completed!", timeout=60)
        mark = os.path.basename(folder.root)
        servers = wait_until(lambda: harness.wine_process_ids(mark, "talvero-sim-server.exe"),
                             what="the simulation server process")
        for pid in servers:
            os.kill(pid, 9)
        # Wine's rpcss keeps the dead server's class registration, so a new
        # creation would fail until it is ended too.
        harness.end_wine_processes("rpcss.exe", prefix=harness.wine_prefix())
        agent.wait_for("\nRead error", timeout=60)
        agent.wait_for("\nConnect to opc server failed, retrying...", timeout=60)
        text = agent.wait_for("Successfully communicated to server!", count=2, timeout=90)
        self.assertIn("retrying...\nConnecting to opc server: localhost...", text)
        # The relaunched server is a new process of this folder's server.
        relaunched = wait_until(lambda: harness.wine_process_ids(mark, "talvero-sim-server.exe"),
                                what="the relaunched simulation server")
        self.assertFalse(set(relaunched) & set(servers))
        # ...and it gets the items again.
        text = agent.wait_for("Items update completed!", count=2, timeout=60)
        self.assertEqual(text.count("\n6:[OK] Serial"), 2)

    def test_a_server_that_never_registers_is_given_up_and_tried_again(self):
        # The creation limit is shortened to 3 s; Wine itself gives up on a
        # server that never registers only after 30 s, so a failure within
        # 20 s is the agent's own limit at work.
        simulation = harness.DEFAULT_SIMULATION.replace("\nfail=\n", "\nfail=register\n")
        folder, agent = self.start_agent(simulation=simulation,
                                         env={"TALVERO_CREATION_LIMIT_MS": "3000"})
        agent.wait_for("\nConnecting to opc server: localhost...", timeout=60)
        agent.wait_for("\nConnecting to opc server: localhost...\nConnect to opc server failed.",
                       timeout=20)
        # The supervisor tries again, and each try is given up in turn.
        agent.wait_for("\nConnect to opc server failed, retrying...\nConnecting to opc server: "
                       "localhost...", count=2, timeout=30)
        # The server registers again: the next try connects and adds the
        # items, whatever the abandoned creations bring back meanwhile.
        folder.write("simulation.ini", harness.DEFAULT_SIMULATION)
        text = agent.wait_for("Items update completed!", timeout=90)
        self.assertIn("Successfully connected to server!", text)
        self.assertIn("\n6:[OK] Serial", text)

    def test_remote_discovery_fails_with_the_system_text(self):
        folder, agent = self.start_agent(config={"SERVER": {"isremote": "1",
                                                            "host": "127.0.0.1"}})
        self.assertEqual(agent.wait_exit(60), 0)
        text = agent.text()
        self.assertIn("\nFinding opc server on 127.0.0.1 ...Error:", text)
        self.assertIn("No opc server found.", text)


if __name__ == "__main__":
    unittest.main()
