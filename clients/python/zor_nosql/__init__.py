"""Python client for the zor nosql server: connect, log in, send command lines, get typed
replies. Standard library only. See docs/python.md.

    import zor_nosql
    with zor_nosql.connect(port=55554, user="admin", password="admin") as db:
        stock = db.create("map", "string", "u32", name="stock")
        stock.insert("apples", 12)
        print(stock.value("apples"))
"""

from .commands import Container, ContainerInfo
from .connection import DEFAULT_PORT, Connection, connect
from .digest import digest
from .errors import (CommandFailed, ConnectionLost, LoginError, ProtocolError, TimedOut,
                     ZorError)
from .frames import Item, Reply
from .pool import Pool
from .tokens import Name, command_line, quote, token
from .values import DateTime, RawDate, RawDateTime, RawTime, Time

__all__ = [
    "CommandFailed", "Connection", "ConnectionLost", "Container", "ContainerInfo", "DateTime",
    "DEFAULT_PORT", "Item", "LoginError", "Name", "Pool", "ProtocolError", "RawDate",
    "RawDateTime", "RawTime", "Reply", "Time", "TimedOut", "ZorError", "command_line", "connect",
    "digest", "quote", "token",
]
__version__ = "0.1.0"
