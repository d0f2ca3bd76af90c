#!/usr/bin/python3
"""kelo-host --preview against raw sockets on 127.0.0.1, one check per rule:
the port is never shared, slow or refused clients cost only their own time,
Ctrl-C ends it at once, ambiguous requests are refused with a reason, and the
page's state names the real input file.

usage: preview_http_test.py KELO_HOST PLUGIN [CHECK...]
       preview_http_test.py KELO_HOST PLUGIN --measure SECONDS CONNECTIONS
The second form prints how long an ordinary request waits while CONNECTIONS
clients trickle header lines for SECONDS; it is not a pass mark.
"""
import json
import os
import select
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HOST, PLUGIN = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
# Every wait below is bounded by this, so a hung server fails the check
# instead of the test's own timeout.
PATIENCE = 10.0


class Preview:
    """kelo-host --preview running until stop()."""

    def __init__(self, folder, arguments=()):
        self.process = subprocess.Popen([HOST, "--preview", "--quiet", "--plugin", PLUGIN] + list(arguments),
                                        cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready, _, _ = select.select([self.process.stdout], [], [], 60)
        line = self.process.stdout.readline().decode() if ready else ""
        if "http://" not in line:
            self.process.kill()
            raise AssertionError("no URL from kelo-host: %r %r" % (line, self.process.stderr.read()))
        url = line[line.index("http://"):].split()[0]
        self.token = url.split("token=")[1]
        self.port = int(url.split(":")[2].split("/")[0])
        self.host = "127.0.0.1:%d" % self.port

    def stop(self):
        """Ctrl-C; returns the exit status and the seconds it took."""
        start = time.monotonic()
        self.process.send_signal(signal.SIGINT)
        status = self.process.wait(PATIENCE)
        return status, time.monotonic() - start

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Connection:
    """A client socket that keeps what it read past one response for the
    next, as pipelined answers arrive together."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=PATIENCE)
        self.pending = b""

    def send(self, data):
        self.sock.sendall(data)

    def close(self):
        self.sock.close()

    def receive(self, deadline):
        if self.pending:
            data, self.pending = self.pending, b""
            return data
        self.sock.settimeout(deadline)
        return self.sock.recv(65536)

    def response(self, deadline=PATIENCE):
        """(status, headers, body) of one response, or None when the server
        closed first."""
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.receive(deadline)
            if not chunk:
                return None
            data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        length = int(headers.get("content-length", "0"))
        while len(body) < length:
            chunk = self.receive(deadline)
            if not chunk:
                break
            body += chunk
        self.pending = body[length:]
        return int(lines[0].split()[1]), headers, body[:length]

    def closed_by_server(self, within=3.0):
        """True when the server closes the connection within `within` seconds."""
        end = time.monotonic() + within
        try:
            while time.monotonic() < end:
                if not self.receive(max(0.01, end - time.monotonic())):
                    return True
        except socket.timeout:
            return False
        except ConnectionResetError:
            return True
        return False


def request(preview, method="GET", path="/api/state", body=None, extra=""):
    text = "%s %s%stoken=%s HTTP/1.1\r\nHost: %s\r\n%s" % (
        method, path, "&" if "?" in path else "?", preview.token, preview.host, extra)
    if body is not None:
        text += "Content-Length: %d\r\n" % len(body)
    return (text + "\r\n").encode() + (body or b"")


def ask(preview, raw):
    connection = Connection(preview.port)
    try:
        connection.send(raw)
        return connection.response()
    finally:
        connection.close()


def write_y4m(path, frames, width=16, height=16):
    with open(path, "wb") as file:
        file.write(b"YUV4MPEG2 W%d H%d F25:1 C420jpeg\n" % (width, height))
        for frame in range(frames):
            file.write(b"FRAME\n" + bytes([16 + 20 * frame]) * (width * height * 3 // 2))


class Tricklers:
    """`count` connections that each send one header line a second and are
    opened again whenever the server closes them, as a client holding the
    server's connections would."""

    def __init__(self, port, count):
        self.port, self.count, self.reopened = port, count, 0
        self.socks = [self.open() for _ in range(count)]
        self.next_line = time.monotonic()

    def open(self):
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=PATIENCE)
        sock.setblocking(False)
        sock.sendall(b"GET / HTTP/1.1\r\n")
        return sock

    def run_for(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            readable, _, _ = select.select(self.socks, [], [], max(0.0, min(0.05, end - time.monotonic())))
            for sock in readable:
                try:
                    gone = not sock.recv(65536)
                except (ConnectionResetError, BlockingIOError):
                    gone = True
                if gone:
                    self.socks[self.socks.index(sock)] = self.reopen(sock)
            if time.monotonic() >= self.next_line:
                self.next_line += 1.0
                for i, sock in enumerate(self.socks):
                    try:
                        sock.send(b"X-Slow: 1\r\n")
                    except OSError:
                        self.socks[i] = self.reopen(sock)

    def reopen(self, sock):
        sock.close()
        self.reopened += 1
        return self.open()

    def close(self):
        for sock in self.socks:
            sock.close()


def browser_delays(preview, count, seconds, interval=0.25):
    """Seconds each ordinary request took while `count` tricklers held on
    for `seconds`; they let go at the end whatever the requests do."""
    import threading
    tricklers = Tricklers(preview.port, count)
    thread = threading.Thread(target=lambda: (tricklers.run_for(seconds), tricklers.close()))
    thread.start()
    delays = []
    try:
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            start = time.monotonic()
            connection = Connection(preview.port)
            connection.send(request(preview))
            answer = connection.response(seconds + PATIENCE)
            connection.close()
            assert answer and answer[0] == 200, answer
            delays.append(time.monotonic() - start)
            time.sleep(interval)
    finally:
        thread.join()
    return delays, tricklers.reopened


def check_port_is_never_shared(folder):
    # A socket that offers to share (SO_REUSEPORT) holds the port first.
    holder = socket.socket()
    holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    holder.bind(("127.0.0.1", 0))
    holder.listen()
    port = holder.getsockname()[1]
    result = subprocess.run([HOST, "--preview", "--plugin", PLUGIN, "--port", str(port)], cwd=folder,
                            capture_output=True, timeout=PATIENCE)
    holder.close()
    assert result.returncode == 1, result
    assert b"127.0.0.1:%d" % port in result.stderr and b"Address already in use" in result.stderr, result.stderr
    assert not result.stdout, "no URL for a port that is not ours: %r" % result.stdout

    # The running preview's port is shared with nobody, however they ask.
    preview = Preview(folder)
    try:
        intruder = socket.socket()
        intruder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        try:
            intruder.bind(("127.0.0.1", preview.port))
            raise AssertionError("a SO_REUSEPORT socket shares the preview's port")
        except OSError as error:
            assert error.errno == 98, error
        finally:
            intruder.close()
        second = subprocess.run([HOST, "--preview", "--plugin", PLUGIN, "--port", str(preview.port)],
                                cwd=folder, capture_output=True, timeout=PATIENCE)
        assert second.returncode == 1 and b"Address already in use" in second.stderr, second
    finally:
        preview.kill()


def check_slow_and_refused_clients_cost_only_their_own_time(folder):
    preview = Preview(folder)
    try:
        # A refusal closes the connection: a client without the token
        # cannot keep one open.
        refused = Connection(preview.port)
        refused.send(b"GET /api/state HTTP/1.1\r\nHost: %s\r\n\r\n" % preview.host.encode())
        status, headers, body = refused.response()
        assert status == 403 and b"token" in body and headers.get("connection") == "close", (status, body)
        assert refused.closed_by_server(1.0), "a refused client keeps its connection"
        refused.close()

        # A request that never ends is cut off at its deadline, however
        # busy it keeps the line.
        slow = Connection(preview.port)
        start = time.monotonic()
        slow.send(b"GET /api/state HTTP/1.1\r\n")
        closed = False
        while time.monotonic() - start < PATIENCE and not closed:
            try:
                slow.send(b"X-Slow: 1\r\n")
            except OSError:
                closed = True
            closed = closed or slow.closed_by_server(0.5)
        waited = time.monotonic() - start
        slow.close()
        assert closed and waited < 7, "a trickling request was still open after %.1f s" % waited

        # Fifty of them do not hold up the browser.
        delays, reopened = browser_delays(preview, 50, 4)
        print("50 trickling connections for 4 s: ordinary request max %.3f s, median %.3f s over %d, "
              "%d reconnections" % (max(delays), statistics.median(delays), len(delays), reopened))
        assert max(delays) < 1.0, delays
        # The server still answers once they are gone.
        assert ask(preview, request(preview))[0] == 200
    finally:
        preview.kill()


def check_ctrl_c_ends_at_once(folder):
    preview = Preview(folder)
    tricklers = Tricklers(preview.port, 10)
    # One client half-way through a body, one waiting for its answer.
    body = Connection(preview.port)
    body.send(request(preview, "POST", "/api/settings", extra="Content-Length: 100\r\n")[:-2] + b"\r\nR=1")
    try:
        tricklers.run_for(1.5)
        status, took = preview.stop()
        print("Ctrl-C among 11 slow clients: ended in %.3f s" % took)
        assert status == 0 and took < 1.0, "Ctrl-C took %.2f s (status %s)" % (took, status)
    finally:
        tricklers.close()
        body.close()
        preview.kill()


def check_ambiguous_requests_are_refused_with_a_reason(folder):
    preview = Preview(folder)
    host = preview.host.encode()
    token = preview.token.encode()
    line = b"GET /api/state?token=" + token + b" HTTP/1.1\r\n"
    post = b"POST /api/settings?token=" + token + b" HTTP/1.1\r\nHost: " + host + b"\r\n"
    cases = [
        (line + b"Host: " + host + b"\r\nHost: evil.example\r\n\r\n", 400, b"Host"),
        (line + b"Host: evil.example\r\nHost: " + host + b"\r\n\r\n", 400, b"Host"),
        (line + b"Host: " + host + b"\x00.evil.example\r\n\r\n", 400, b""),
        (line + b"\r\n", 400, b"Host"),
        (line + b"Host: " + host + b"\r\nno colon here\r\n\r\n", 400, b""),
        (post + b"Content-Length: 0\r\nContent-Length: 11\r\n\r\nR(gain)=1\r\n", 400, b"Content-Length"),
        (post + b"Content-Length: 11abc\r\n\r\nR(gain)=1\r\n", 400, b"Content-Length"),
        (post + b"Content-Length: +11\r\n\r\nR(gain)=1\r\n", 400, b"Content-Length"),
        (post + b"Content-Length: 0x0b\r\n\r\nR(gain)=1\r\n", 400, b"Content-Length"),
        (post + b"Content-Length: 1 1\r\n\r\nR(gain)=1\r\n", 400, b"Content-Length"),
        (post + b"\r\nR(gain)=1\r\n", 411, b"Content-Length"),
        (post + b"Transfer-Encoding: chunked\r\n\r\n3\r\nR=1\r\n0\r\n\r\n", 411, b"Content-Length"),
        (post + b"Content-Length: 100000000\r\n\r\n", 413, b"bytes"),
        (b"GET http://evil.example/api/state?token=" + token + b" HTTP/1.1\r\nHost: " + host + b"\r\n\r\n",
         400, b"path"),
        (b"GET /api/state?token=%zz HTTP/1.1\r\nHost: " + host + b"\r\n\r\n", 400, b"%"),
    ]
    try:
        for raw, status, reason in cases:
            connection = Connection(preview.port)
            start = time.monotonic()
            connection.send(raw)
            answer = connection.response()
            took = time.monotonic() - start
            assert answer, "no answer to %r" % raw
            got, headers, body = answer
            assert got == status and reason in body and body.strip(), (raw, got, body)
            assert took < 1.0, "%r answered after %.1f s" % (raw, took)
            assert connection.closed_by_server(1.0), "%r left the connection open" % raw
            connection.close()

        # Requests sent together are answered in order.
        together = Connection(preview.port)
        together.send(request(preview, path="/api/settings.txt") + request(preview) +
                      request(preview, "POST", "/api/settings", b"Y(offs)=5\n"))
        first, second, third = together.response(), together.response(), together.response()
        together.close()
        assert first and first[0] == 200 and first[1]["content-type"].startswith("text/plain"), first
        assert second and second[0] == 200 and json.loads(second[2])["track"][0] == 0, second
        assert third and third[0] == 200 and json.loads(third[2])["track"][0] == 5, third
    finally:
        preview.kill()


def check_preview_messages_give_the_reason(folder):
    os.mkdir(os.path.join(folder, "adir"))
    for argument, reason in (("missing.png", b"missing.png: No such file or directory"),
                             ("adir", b"adir: Is a directory")):
        result = subprocess.run([HOST, "--preview", "--plugin", PLUGIN, argument], cwd=folder,
                                capture_output=True, timeout=PATIENCE)
        assert result.returncode == 1 and reason in result.stderr, result
    # Without standard output nobody can have the address.
    result = subprocess.run([HOST, "--preview", "--plugin", PLUGIN], cwd=folder, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, timeout=PATIENCE,
                            preexec_fn=lambda: os.close(1))
    assert result.returncode == 1 and b"standard output" in result.stderr, result


def check_the_page_names_the_real_input(folder):
    # A name that is not UTF-8, and a clip whose second frame goes missing
    # while the page is open.
    name = b"clip-\xff\xfe 'x'.y4m"
    path = os.path.join(os.fsencode(folder), name)
    write_y4m(path, 2)
    preview = Preview(folder, [os.fsdecode(name)])
    try:
        status, _, body = ask(preview, request(preview))
        assert status == 200
        state = json.loads(body.decode("utf-8"))  # strict: fails on a raw byte
        assert state["frames"] == 2
        # The page's command line, pasted into a shell, names that file.
        shell = "kelo_host() { printf '%s\\0' \"$@\"; }; " + state["command"].replace("kelo-host", "kelo_host", 1)
        arguments = subprocess.run(["bash", "-c", shell], capture_output=True, check=True,
                                   timeout=PATIENCE).stdout.split(b"\0")
        assert name in arguments, (state["command"], arguments)

        with open(path, "r+b") as file:
            file.truncate(os.path.getsize(path) - 100)
        status, _, body = ask(preview, request(preview, path="/api/picture?frame=1"))
        assert status == 500 and b"frame 1: cut short" in body, (status, body)
        assert ask(preview, request(preview, path="/api/picture?frame=0"))[0] == 200
    finally:
        preview.kill()


CHECKS = [check_port_is_never_shared, check_slow_and_refused_clients_cost_only_their_own_time,
          check_ctrl_c_ends_at_once, check_ambiguous_requests_are_refused_with_a_reason,
          check_preview_messages_give_the_reason, check_the_page_names_the_real_input]


def main():
    os.environ.setdefault("XDG_RUNTIME_DIR", tempfile.gettempdir())
    # The page asks for frames in any order.
    os.environ["KELO_TEST_ANY_ORDER"] = "1"
    if len(sys.argv) > 3 and sys.argv[3] == "--measure":
        seconds, count = float(sys.argv[4]), int(sys.argv[5])
        with tempfile.TemporaryDirectory() as folder:
            preview = Preview(folder)
            try:
                delays, reopened = browser_delays(preview, count, seconds)
            finally:
                preview.kill()
        print("%d trickling connections for %.0f s: ordinary request max %.3f s, median %.3f s over %d "
              "requests, %d reconnections" % (count, seconds, max(delays), statistics.median(delays),
                                              len(delays), reopened))
        return 0
    wanted = sys.argv[3:]
    failed = 0
    for check in CHECKS:
        if wanted and check.__name__ not in wanted:
            continue
        start = time.monotonic()
        with tempfile.TemporaryDirectory() as folder:
            try:
                check(folder)
                print("ok   %s (%.2f s)" % (check.__name__, time.monotonic() - start))
            except Exception as error:  # one broken rule does not hide the others
                failed += 1
                print("FAIL %s: %s: %s" % (check.__name__, type(error).__name__, error))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
