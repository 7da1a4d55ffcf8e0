"""Bounds of the HTTP API against the agent and its simulation server: requests
that time out, a full queue, a port in use, a malformed allow list."""
import socket
import threading
import time
import unittest

import harness

STARTED = "The http server started on port"
WRITE = "c=40&group=Channel1&item=Device1&tagkvs=Setpoint:%d"
READ = "c=30&group=Channel1&item=Device1&tags=Setpoint"
OK_WRITE = {"code": 200, "data": "ok"}
TIME_OUT = {"code": 201, "msg": "TimeOut"}
BUSY = {"code": 201, "msg": "Busy"}


def slow_simulation(delay_ms):
    """The default simulation with every device read and write taking delay_ms."""
    return harness.DEFAULT_SIMULATION.replace("delay=0", "delay=%d" % delay_ms)


def start_threads(calls):
    """Starts each function on a thread of its own; returns a function that
    waits for them all and gives their results in order."""
    results = [None] * len(calls)
    errors = []

    def run(index, call):
        try:
            results[index] = call()
        except Exception as error:  # shown by the waiting test
            errors.append(error)

    threads = [threading.Thread(target=run, args=(i, call)) for i, call in enumerate(calls)]
    for thread in threads:
        thread.start()

    def finish():
        for thread in threads:
            thread.join()
        if errors:
            raise errors[0]
        return results
    return finish


class ApiTestCase(harness.AgentTestCase):
    def serve(self, http=None, **kwargs):
        port = harness.free_port()
        keys = {"port": str(port)}
        keys.update(http or {})
        config = kwargs.pop("config", {})
        config["HTTP"] = keys
        folder, agent = self.start_agent(config=config, **kwargs)
        agent.wait_for(STARTED, timeout=60)
        return port, agent


class TimedOutRequests(ApiTestCase):
    def test_a_write_told_time_out_never_reaches_the_server(self):
        # Every write takes 3 s and the sampler takes its share of the session:
        # most of twenty writes sent at once are still waiting when their
        # clients are told TimeOut.
        port, agent = self.serve(config={"ITEMS": {"cf": "1"}}, simulation=slow_simulation(3000))
        agent.wait_for("Items update completed!", timeout=30)
        values = list(range(101, 121))
        answers = start_threads([lambda v=v: harness.api_post(port, WRITE % v, timeout=60)
                                 for v in values])()
        for value, answer in zip(values, answers):
            self.assertIn(answer, (OK_WRITE, TIME_OUT), value)
        written = {float(v) for v, answer in zip(values, answers) if answer == OK_WRITE}
        self.assertLess(len(written), len(values), "no write timed out: the case shows nothing")

        # Every client has its answer. From now on the item keeps one value,
        # one that was answered ok (the first one if none was). A write told
        # TimeOut and carried out later would change it, and reads would wait
        # behind such writes until they timed out themselves.
        expected = written or {2.5}
        seen = []
        watch_until = time.monotonic() + 20
        while time.monotonic() < watch_until:
            answer = harness.api_post(port, READ, timeout=60)
            self.assertEqual(answer["code"], 200, answer)
            seen.append(float(answer["data"][0]["v"]))
        self.assertEqual(len(set(seen)), 1, seen)
        self.assertIn(seen[0], expected, "answered ok: %s" % sorted(written))

    def test_a_full_queue_answers_busy_at_once_and_the_status_still_answers(self):
        port, agent = self.serve(simulation=slow_simulation(3000))
        agent.wait_for("Items update completed!", timeout=30)
        busy = threading.Event()

        def read():
            answer = harness.api_post(port, READ, timeout=60)
            if answer == BUSY:
                busy.set()
            return answer
        finish = start_threads([read] * 70)
        self.assertTrue(busy.wait(30), "no request was answered Busy" + harness.running_agents_text())
        # The others still wait for the slow server; a connection thread is
        # left for the status request all the same.
        status = harness.api_post(port, "c=60")
        self.assertEqual(status["code"], 200, status)
        answers = finish()
        for answer in answers:
            self.assertTrue(answer in (BUSY, TIME_OUT) or answer["code"] == 200, answer)
        # One may be running and the queue holds the rest of its bound.
        self.assertGreaterEqual(answers.count(BUSY), 70 - 32 - 1, answers)


class PortInUse(ApiTestCase):
    def test_the_port_is_tried_again_until_it_is_free(self):
        port = harness.free_port()
        holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            holder.bind(("127.0.0.1", port))
            holder.listen(1)
            folder, agent = self.start_agent(config={"HTTP": {"port": str(port)}})
            agent.wait_for("The http server could not use port %d" % port, timeout=60)
            self.assertNotIn(STARTED, agent.text())
        finally:
            holder.close()
        agent.wait_for(STARTED, timeout=60)
        self.assertEqual(agent.text().count("could not use port"), 1, agent.text())
        self.assertEqual(harness.api_post(port, "c=10"), {"code": 200, "msg": "ok"})


class MalformedAllowList(ApiTestCase):
    def test_each_malformed_entry_is_named_and_the_valid_ones_stay(self):
        port, agent = self.serve({"allowip": "127.0.0.l, 127.0.0.1;10.0.0.0/33"})
        text = agent.text()
        self.assertIn('\nThe allowip entry "127.0.0.l" is neither', text)
        self.assertIn('\nThe allowip entry "10.0.0.0/33" is neither', text)
        self.assertEqual(text.count("The allowip entry"), 2, text)
        self.assertNotIn("no peer is admitted", text)
        self.assertEqual(harness.api_post(port, "c=10"), {"code": 200, "msg": "ok"})

    def test_a_list_without_a_valid_entry_says_no_peer_is_admitted(self):
        port, agent = self.serve({"allowip": "127.0.0.l"})
        self.assertIn('\nThe allowip entry "127.0.0.l" is neither', agent.text())
        self.assertIn("no peer is admitted", agent.text())
        with socket.create_connection(("127.0.0.1", port), timeout=20) as conn:
            conn.sendall(b"POST /?c=10 HTTP/1.0\r\n\r\n")
            try:
                self.assertEqual(conn.recv(65536), b"")
            except ConnectionResetError:
                pass  # closed unanswered


if __name__ == "__main__":
    unittest.main()
