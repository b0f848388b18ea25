"""A pool of logged-in connections shared by threads. The pool's state is guarded by one
condition; a connection is lent to one thread at a time.
"""

import contextlib
import threading
import time

from .connection import connect
from .errors import TimedOut, ZorError


class Pool:
    """Up to `size` connections, opened on demand with connect(**connect_args) and kept for
    reuse. `with pool.connection() as c:` lends one; a connection that was closed while lent
    (after an error) is dropped, and the next borrower gets a new one."""

    def __init__(self, size, **connect_args):
        if size < 1:
            raise ValueError("a pool holds at least one connection")
        self._size = size
        self._connect_args = connect_args
        self._idle = []
        self._open = 0  # connections lent out or idle, and those being opened
        self._closed = False
        self._condition = threading.Condition()

    @contextlib.contextmanager
    def connection(self, timeout=None):
        """Lends a connection for the `with` block. Waits at most `timeout` seconds (None: as
        long as it takes) for one to be free; raises TimedOut then, and whatever connect()
        raises when a new connection cannot be made."""
        c = self._acquire(timeout)
        try:
            yield c
        finally:
            self._release(c)

    def close(self):
        """Closes the idle connections now and the lent ones when they come back."""
        with self._condition:
            self._closed = True
            idle, self._idle = self._idle, []
            self._open -= len(idle)
            self._condition.notify_all()
        for c in idle:
            c.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    def _acquire(self, timeout):
        deadline = None if timeout is None else time.monotonic() + timeout
        with self._condition:
            while True:
                if self._closed:
                    raise ZorError("the pool is closed")
                if self._idle:
                    return self._idle.pop()
                if self._open < self._size:
                    self._open += 1
                    break
                left = None if deadline is None else deadline - time.monotonic()
                if left is not None and left <= 0:
                    raise TimedOut(f"no pooled connection was free within {timeout} s")
                self._condition.wait(left)
        try:
            return connect(**self._connect_args)
        except BaseException:
            with self._condition:
                self._open -= 1
                self._condition.notify()
            raise

    def _release(self, c):
        with self._condition:
            if self._closed or c.closed:
                self._open -= 1
            else:
                self._idle.append(c)
                c = None
            self._condition.notify()
        if c is not None:
            c.close()
