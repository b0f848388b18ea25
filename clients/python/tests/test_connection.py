"""Failures of the connection: refused logins, and servers that close, stall or send what is not
a reply. Each must raise its own exception, never return garbage, and close the connection."""

import socket
import struct
import threading

import pytest

import zor_nosql
from zor_nosql import ConnectionLost, LoginError, ProtocolError, TimedOut

ACCEPTED = b"\x01\x00\x00\x00\x00"
EMPTY_SUCCESS = struct.pack("<IBQ", 9, 0, 0)


@pytest.mark.parametrize("user, password", [("admin", "wrong"), ("nobody", "admin")])
def test_a_refused_login_raises(server, user, password):
    with pytest.raises(LoginError, match="login refused"):
        server.connect(user=user, password=password)


class FakeServer:
    """Accepts one connection on 127.0.0.1, answers each request frame with the next of the
    given byte strings (None: never answers), and closes after the last."""

    def __init__(self, *replies):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.listener.settimeout(10)
        self.port = self.listener.getsockname()[1]
        self.replies = replies
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _read_frame(self, connection):
        data = b""
        while len(data) < 4 or len(data) < 4 + struct.unpack_from("<I", data)[0]:
            chunk = connection.recv(65536)
            if not chunk:
                return
            data += chunk

    def _serve(self):
        try:
            connection, _ = self.listener.accept()
        except OSError:
            return
        with connection:
            connection.settimeout(10)
            for reply in self.replies:
                self._read_frame(connection)
                if reply is None:
                    connection.recv(1)  # stall until the client gives up
                    return
                connection.sendall(reply)

    def close(self):
        self.listener.close()
        self.thread.join(10)


@pytest.mark.parametrize("reply, error", [
    (EMPTY_SUCCESS[:9], ConnectionLost),  # closes in the middle of a reply
    (b"\x10\x00", ConnectionLost),  # closes in the middle of the length field
    (b"", ConnectionLost),  # closes instead of answering
    (None, TimedOut),  # never answers
    (b"\x01\x00\x00\x00\x07", ProtocolError),  # status neither 0 nor 1
    (b"\x02\x00\x00\x00\x01\x00", ProtocolError),  # bytes after a failure status
    (struct.pack("<IBQ", 9, 0, 1), ProtocolError),  # an item announced, none sent
    (struct.pack("<IBQH3sQ", 22, 0, 1, 0, b"\x03\x01\x00", 2) + b"\x00" * 8,
     ProtocolError),  # two u64 values announced, one sent
    (struct.pack("<IBQH3sQH", 24, 0, 1, 0, b"\x04\x02\x02", 1, 5) + b"ab",
     ProtocolError),  # a string longer than the reply
])
def test_a_broken_command_reply_raises_and_closes(reply, error):
    fake = FakeServer(ACCEPTED, reply)
    try:
        c = zor_nosql.connect(port=fake.port, password="x", timeout=1)
        with pytest.raises(error):
            c.execute("k")
        assert c.closed
        with pytest.raises(ConnectionLost):
            c.execute("k")
    finally:
        fake.close()


@pytest.mark.parametrize("reply, error", [
    (b"\x02\x00\x00\x00\x00\x00", ProtocolError),  # not a login reply
    (b"\x01\x00\x00\x00\x02", ProtocolError),  # status neither 0 nor 1
    (b"\x01\x00", ConnectionLost),  # closes in the middle of the login reply
    (b"\x01\x00\x00\x00\x01", LoginError),
])
def test_a_broken_login_reply_raises(reply, error):
    fake = FakeServer(reply)
    try:
        with pytest.raises(error):
            zor_nosql.connect(port=fake.port, password="x", timeout=1)
    finally:
        fake.close()
