"""One session over one TCP connection: connect, log in, then one command at a time.
A connection owns its socket; a lock inside lets several threads share it, one exchange at a
time (the protocol allows one outstanding request per connection).

The protocol carries no request ids, so a connection whose exchange was cut short (timeout,
closed socket, reply that does not decode) can never be resynchronised: it is closed at once,
and every later call raises ConnectionLost.
"""

import socket
import threading

from . import frames
from .commands import Commands
from .errors import ConnectionLost, LoginError, ProtocolError, TimedOut
from .tokens import command_line

DEFAULT_PORT = 55554
DEFAULT_TIMEOUT = 30.0  # seconds, as zor_nosql_cli waits by default
_RECEIVE_CHUNK = 1 << 20


class Connection(Commands):
    """A logged-in session; make one with connect(). Usable as a context manager, which closes
    it. The command methods (create, container, containers, ...) come from Commands."""

    def __init__(self, sock, address):
        self._socket = sock
        self._address = address
        self._lock = threading.Lock()

    @property
    def closed(self):
        return self._socket is None

    def close(self):
        """Closes the connection; closing twice is fine."""
        sock, self._socket = self._socket, None
        if sock is not None:
            sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    def __repr__(self):
        state = "closed" if self.closed else "open"
        return f"<zor_nosql.Connection {self._address[0]}:{self._address[1]} {state}>"

    def execute(self, *tokens):
        """Sends one command built from separate tokens and returns its Reply. Each token is
        written by the rules of zor_nosql.token(): str and bytes are quoted only where they must
        be, a Name always; so execute("g", Name("stock"), "value", "big apples") sends
        g "stock" value "big apples". A refused command gives a Reply with ok False."""
        return self.execute_line(command_line(tokens))

    def execute_line(self, line):
        """Sends one command line as it is (str is sent as UTF-8) and returns its Reply."""
        if isinstance(line, str):
            line = line.encode("utf-8")
        return self._exchange(frames.request_frame(bytes(line)), frames.decode_command_reply)

    def _log_in(self, user, password):
        if not self._exchange(frames.login_frame(user, password), frames.decode_login_reply):
            self.close()
            raise LoginError(f"login refused for user {user.decode('utf-8', 'replace')!r}: "
                             "wrong user name or password")

    # ---- one exchange ----

    def _exchange(self, frame, decode):
        """Sends a request frame and returns decode(the reply after its length field). Closes
        the connection on any error, before raising it."""
        with self._lock:
            sock = self._socket  # close() from another thread makes the calls below fail
            if sock is None:
                raise ConnectionLost("the connection is closed")
            try:
                sock.sendall(frame)
                return decode(_receive(sock, frames.frame_length(_receive(sock, 4))))
            except (ConnectionLost, ProtocolError):  # ConnectionLost before OSError, its base
                self.close()
                raise
            except socket.timeout:
                self.close()
                raise TimedOut("the server did not answer in time; the connection is closed") \
                    from None
            except OSError as e:
                self.close()
                raise ConnectionLost(f"connection failed: {e}") from None


def _receive(sock, n):
    """Exactly n bytes; read in chunks, so memory grows only with what arrives."""
    chunks = []
    while n:
        chunk = sock.recv(min(n, _RECEIVE_CHUNK))
        if not chunk:
            raise ConnectionLost("the server closed the connection")
        chunks.append(chunk)
        n -= len(chunk)
    return b"".join(chunks)


def connect(host="127.0.0.1", port=DEFAULT_PORT, user="admin", password="",
            timeout=DEFAULT_TIMEOUT):
    """Connects to a zor nosql server and logs in. `user` and `password` are str (sent as
    UTF-8) or bytes. `timeout` bounds, in seconds, the connect and every wait for the server
    (None waits forever). Raises ConnectionLost when the connection cannot be made, TimedOut,
    LoginError when the server refuses the user or password, ProtocolError for a reply that is
    not a login reply."""
    if isinstance(user, str):
        user = user.encode("utf-8")
    if isinstance(password, str):
        password = password.encode("utf-8")
    try:
        sock = socket.create_connection((host, port), timeout=timeout)
    except socket.timeout:
        raise TimedOut(f"no connection to {host}:{port} within {timeout} s") from None
    except OSError as e:
        raise ConnectionLost(f"cannot connect to {host}:{port}: {e}") from None
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    connection = Connection(sock, (host, port))
    connection._log_in(bytes(user), bytes(password))
    return connection
