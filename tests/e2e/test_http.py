"""The HTTP API over real loopback sockets against the agent and its simulation server."""
import errno
import hashlib
import json
import os
import socket
import time
import unittest

import harness

HEAD = (b"HTTP/1.0 200 OK\r\nServer:TALVERO AGENT/1.0\r\n"
        b"Content-Type:text/html;charset=UTF-8\r\n")
STARTED = "The http server started on port"


def exchange(port, data, timeout=20.0):
    """Sends data on a fresh connection and returns every byte until the agent closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as conn:
        conn.sendall(data)
        chunks = []
        while True:
            try:
                chunk = conn.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            chunks.append(chunk)
        return b"".join(chunks)


def body_of(answer):
    head, _, body = answer.partition(b"\r\n\r\n")
    return body


class HttpTestCase(harness.AgentTestCase):
    def serve(self, http=None, simulation=harness.DEFAULT_SIMULATION, tags=harness.DEFAULT_TAGS):
        port = harness.free_port()
        keys = {"port": str(port)}
        keys.update(http or {})
        folder, agent = self.start_agent(config={"HTTP": keys}, simulation=simulation, tags=tags)
        agent.wait_for(STARTED, timeout=60)
        return port, agent

    def serve_with_items(self, **kwargs):
        port, agent = self.serve(**kwargs)
        # The supervisor adds the items about a second after startup.
        agent.wait_for("Items update completed!", timeout=30)
        return port, agent

    def post(self, port, query="", body=b"", headers=b""):
        data = (b"POST /" + query.encode() + b" HTTP/1.0\r\n" + headers +
                b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)
        return exchange(port, data)


class HeadAndRouting(HttpTestCase):
    def test_exact_head_get_refused_and_c_variants(self):
        port, agent = self.serve()
        self.assertIn("\nThe http server started on port %d successfully!" % port, agent.text())
        answer = exchange(port, b"POST /?c=10 HTTP/1.0\r\n\r\n")
        self.assertEqual(answer, HEAD + b"Content-length:23\r\n\r\n" + b'{"code":200,"msg":"ok"}')
        answer = exchange(port, b"GET /?c=30 HTTP/1.1\r\n\r\n")
        self.assertEqual(answer, HEAD + b"Content-length:32\r\n\r\n" + b'{"code":400,"msg":"bad request"}')
        for query in ("?c=20", "?c=31", "", "?c=abc"):
            self.assertEqual(body_of(self.post(port, query)), b'{"code":200,"msg":"ok"}', query)
        self.assertEqual(exchange(port, b"hello there\r\n\r\n"), b"")

    def test_body_in_a_second_segment(self):
        port, _ = self.serve()
        with socket.create_connection(("127.0.0.1", port), timeout=20) as conn:
            conn.sendall(b"POST / HTTP/1.0\r\nContent-Length: 4\r\n\r\n")
            time.sleep(0.2)
            conn.sendall(b"c=10")
            answer = conn.recv(65536)
        self.assertTrue(answer.startswith(HEAD))
        self.assertEqual(body_of(answer), b'{"code":200,"msg":"ok"}')

    def test_oversized_request_is_refused(self):
        port, _ = self.serve()
        answer = self.post(port, body=b"c=10&x=" + b"y" * 70000)
        self.assertEqual(body_of(answer), b'{"code":400,"msg":"bad request"}')


class Signatures(HttpTestCase):
    def test_signature_cases(self):
        port, _ = self.serve({"key": "s3cret"})
        body = b"c=10&x=1"
        good = hashlib.md5(body + b"s3cret").hexdigest()
        ok = b'{"code":200,"msg":"ok"}'
        auth = b'{"code":401,"msg":"Auth failed"}'
        self.assertEqual(body_of(self.post(port, body=body, headers=b"sign: " + good.upper().encode() + b"\r\n")), ok)
        self.assertEqual(body_of(self.post(port, body=body, headers=b"sign: " + good.encode() + b"\r\n")), ok)
        self.assertEqual(body_of(self.post(port, body=b"c=10&x=2", headers=b"sign: " + good.encode() + b"\r\n")), auth)
        self.assertEqual(body_of(self.post(port, body=body, headers=b"Sign: " + good.encode() + b"\r\n")), auth)
        self.assertEqual(body_of(self.post(port, body=body)), auth)
        key_only = hashlib.md5(b"s3cret").hexdigest().encode()
        self.assertEqual(body_of(self.post(port, "?c=10", headers=b"sign: " + key_only + b"\r\n")), ok)


    def test_query_cannot_replace_a_signed_body_parameter(self):
        port, _ = self.serve_with_items(http={"key": "s3cret"})
        body = b"c=30&group=Channel1&item=Device1&tags=Setpoint"
        sign = b"sign: " + hashlib.md5(body + b"s3cret").hexdigest().encode() + b"\r\n"
        # Signed for a read; the unsigned query would make it a write of 55.
        answer = body_of(self.post(port, "?c=40&tagkvs=Setpoint:55", body=body, headers=sign))
        self.assertEqual(answer, b'{"code":401,"msg":"Auth failed"}')
        read = json.loads(body_of(self.post(port, body=body, headers=sign)))
        self.assertEqual(read["code"], 200, read)
        self.assertEqual(read["data"][0]["v"], "2.500000")


class AllowList(HttpTestCase):
    def test_listed_address_is_served(self):
        port, _ = self.serve({"allowip": "10.0.0.1, 127.0.0.1"})
        self.assertEqual(body_of(self.post(port, "?c=10")), b'{"code":200,"msg":"ok"}')

    def test_unlisted_address_is_closed_without_bytes(self):
        # 27.0.0.1 contains no listed address as a whole, and neither does 127.0.0.1 in 127.0.0.10.
        port, _ = self.serve({"allowip": "127.0.0.10;10.0.0.0/8"})
        self.assertEqual(self.post(port, "?c=10"), b"")


class Ports(harness.AgentTestCase):
    def test_port_above_range_is_refused_with_a_line(self):
        folder, agent = self.start_agent(config={"HTTP": {"port": "70000"}})
        agent.wait_for("Setting port=70000 is out of range 0..65535; using 0", timeout=60)
        self.assertNotIn(STARTED, agent.text())


class Operations(HttpTestCase):
    def test_read_write_and_browse(self):
        port, _ = self.serve_with_items()
        def read(tags):
            answer = json.loads(body_of(self.post(port, "?c=30&group=Channel1&item=Device1&tags=" + tags)))
            self.assertEqual(answer["code"], 200, answer)
            return {record["i"]: record["v"] for record in answer["data"]}

        self.assertEqual(read("Serial,Name,Setpoint"),
                         {"Serial": "1234", "Name": "pump one", "Setpoint": "2.500000"})
        write = json.loads(body_of(self.post(port, body=b"c=40&group=Channel1&item=Device1&tagkvs=Setpoint:7.5")))
        self.assertEqual(write, {"code": 200, "data": "ok"})
        self.assertEqual(read("Setpoint"), {"Setpoint": "7.500000"})
        listed = json.loads(body_of(self.post(port, "?c=50&group=Channel1&item=Device1&filters=Le")))
        self.assertEqual(listed["code"], 200, listed)
        self.assertIn("Level", json.dumps(listed["data"]))
        self.assertNotIn("Setpoint", json.dumps(listed["data"]))

    def test_a_refused_entry_answers_error_and_the_others_are_written(self):
        port, agent = self.serve_with_items()
        write = json.loads(body_of(self.post(
            port, body=b"c=40&group=Channel1&item=Device1&tagkvs=Setpoint:7.5,Serial:9")))
        self.assertEqual(write, {"code": 201, "msg": "error"})
        line = agent.wait_for("\nWrite refused: Serial: ")
        # The server's own words, asked of it over COM on Windows.
        self.assertIn("\nWrite refused: Serial: The item's access rights do not allow the "
                      "operation.", line)
        answer = json.loads(body_of(self.post(
            port, "?c=30&group=Channel1&item=Device1&tags=Setpoint,Serial")))
        values = {record["i"]: record["v"] for record in answer["data"]}
        self.assertEqual(values, {"Setpoint": "7.500000", "Serial": "1234"})

    def test_a_branch_the_server_lacks_lists_nothing(self):
        # A leaf at the root: a listing that ignored the failed move would show it.
        port, _ = self.serve_with_items(simulation=harness.DEFAULT_SIMULATION + "Loose=VT_I4,static,1\n")
        missing = json.loads(body_of(self.post(port, "?c=50&group=Channel1&item=Nothing")))
        self.assertEqual(missing, {"code": 200, "data": []})
        listed = json.loads(body_of(self.post(port, "?c=50&group=Channel1&item=Device1&filters=Le")))
        self.assertEqual(listed, {"code": 200, "data": ["Level"]})

    def test_bool_true_goes_out_as_variant_true(self):
        simulation = harness.DEFAULT_SIMULATION + "Channel1.Device1.Flag=VT_BOOL,static,false\n"
        port, _ = self.serve_with_items(simulation=simulation, tags=harness.DEFAULT_TAGS + "Flag\n")
        def flag():
            answer = json.loads(body_of(self.post(
                port, "?c=30&group=Channel1&item=Device1&tags=Flag")))
            return answer["data"][0]["v"]
        self.assertEqual(flag(), "0")
        # The server keeps a VT_BOOL as it was sent, as COM does.
        write = json.loads(body_of(self.post(
            port, body=b"c=40&group=Channel1&item=Device1&tagkvs=Flag:true")))
        self.assertEqual(write, {"code": 200, "data": "ok"})
        self.assertEqual(flag(), "-1")

    def test_query_beats_body(self):
        port, _ = self.serve_with_items()
        # The query's c=30 wins over the body's c=40: a read answers with data.
        answer = json.loads(body_of(self.post(port, "?c=30&group=Channel1&item=Device1&tags=Serial",
                                              body=b"c=40&tagkvs=Setpoint:1")))
        self.assertEqual(answer["code"], 200, answer)
        self.assertIsInstance(answer["data"], list)


class Stalled(HttpTestCase):
    def test_time_out_with_a_stalled_device(self):
        simulation = harness.DEFAULT_SIMULATION.replace("delay=0", "delay=12000")
        port, _ = self.serve_with_items(simulation=simulation)
        start = time.monotonic()
        answer = body_of(self.post(port, "?c=30&group=Channel1&item=Device1&tags=Serial"))
        self.assertEqual(answer, b'{"code":201,"msg":"TimeOut"}')
        self.assertGreaterEqual(time.monotonic() - start, 10.0)


def cpu_seconds(pid):
    """User plus system processor time of a whole process, from /proc."""
    with open("/proc/%d/stat" % pid) as handle:
        fields = handle.read().rsplit(")", 1)[1].split()
    # fields[0] is the state (field 3); utime and stime are fields 14 and 15.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def core_share(pid, seconds):
    """The share of one core the process used over a window of seconds."""
    before, start = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(pid) - before) / (time.monotonic() - start)


def silent_connections(port, count):
    """Connections that never send a byte; connected without waiting, since
    a listener that cannot accept leaves them in the backlog."""
    sockets = []
    for _ in range(count):
        conn = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        conn.setblocking(False)
        result = conn.connect_ex(("127.0.0.1", port))
        if result not in (0, errno.EINPROGRESS):
            conn.close()
            raise OSError(result, os.strerror(result))
        sockets.append(conn)
    return sockets


@unittest.skipIf(harness.IS_WINDOWS, "descriptor limits are the Linux build's")
class DescriptorLimit(HttpTestCase):
    def set_limit(self, pid, limit):
        import resource
        resource.prlimit(pid, resource.RLIMIT_NOFILE, (limit, limit))

    def test_silent_flood_under_a_low_limit_and_exhaustion(self):
        port, agent = self.serve()
        pid = agent.pid
        # The limit a service manager may set: waiting sockets stay below it,
        # so a flood of silent peers does not keep a request out.
        self.set_limit(pid, 256)
        silent = silent_connections(port, 400)
        try:
            time.sleep(1.0)
            share = core_share(pid, 2.0)
            self.assertLess(share, 0.10, "agent CPU with 400 silent peers at a limit of 256")
            self.assertEqual(body_of(self.post(port, "?c=10")), b'{"code":200,"msg":"ok"}')
        finally:
            for conn in silent:
                conn.close()

        # Descriptors run out all the same (a limit lowered below what is open
        # plus a few): the listener rests between accepts instead of spinning,
        # says why once, and serves again once the silent peers are gone.
        def sockets_open():
            count = 0
            for fd in os.listdir("/proc/%d/fd" % pid):
                try:
                    count += os.readlink("/proc/%d/fd/%s" % (pid, fd)).startswith("socket:")
                except FileNotFoundError:
                    pass  # closed meanwhile
            return count
        harness.wait_until(lambda: sockets_open() <= 1, timeout=30,
                           what="the agent to close every connection but its listener")
        self.set_limit(pid, len(os.listdir("/proc/%d/fd" % pid)) + 4)
        silent = silent_connections(port, 400)
        try:
            agent.wait_for("The http server cannot accept connections", timeout=30)
            time.sleep(0.5)
            share = core_share(pid, 3.0)
            self.assertLess(share, 0.10, "agent CPU while descriptors are exhausted")
            self.assertIn("Too many open files", agent.text())
        finally:
            for conn in silent:
                conn.close()
        self.assertEqual(body_of(self.post(port, "?c=10")), b'{"code":200,"msg":"ok"}')


if __name__ == "__main__":
    unittest.main()
