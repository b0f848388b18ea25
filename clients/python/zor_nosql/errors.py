"""The exceptions of the client. Every one derives from ZorError."""


class ZorError(Exception):
    """Base of every error the client raises."""


class ConnectionLost(ZorError, ConnectionError):
    """The connection could not be made, was closed by the server or failed, or was used after
    it was closed. The connection is closed afterwards."""


class TimedOut(ZorError, TimeoutError):
    """A wait passed its timeout: the server did not answer in time (the connection is closed
    then, since a late reply could never be told from the next one), or a pool had no free
    connection in time."""


class ProtocolError(ZorError):
    """A reply that does not decode. The connection is closed."""


class LoginError(ZorError):
    """The server refused the user name or password."""


class CommandFailed(ZorError):
    """The server answered a command with failure: it was not carried out and nothing changed.
    The server gives no reason. Raised by the command methods; `execute` returns the failure
    as a Reply with ok False instead. The connection stays usable."""

    def __init__(self, line):
        self.line = line
        super().__init__(f"the server refused {line!r}")
