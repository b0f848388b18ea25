"""The pool under threads: every borrower gets whole replies of its own commands, and a
connection closed while lent is replaced."""

from concurrent.futures import ThreadPoolExecutor

import pytest

from zor_nosql import Pool, TimedOut

THREADS = 8
ROUNDS = 25


def test_threads_share_a_pool(server):
    with server.connect() as db:
        db.create("set", "u32", name="pooled")
    with Pool(3, port=server.port, user="admin", password="admin", timeout=10) as pool:

        def work(thread):
            for i in range(ROUNDS):
                with pool.connection() as c:
                    value = thread * 1000 + i
                    c.container("pooled").insert(value)
                    assert c.container("pooled").get("equal", value) == [value]
                    if i == ROUNDS // 2:
                        c.close()  # as after an error: the pool must drop it
            return thread

        with ThreadPoolExecutor(THREADS) as executor:
            assert sorted(executor.map(work, range(THREADS))) == list(range(THREADS))
        with pool.connection() as c:
            assert c.container("pooled").count() == THREADS * ROUNDS
            c.erase("pooled")


def test_a_full_pool_times_out(server):
    with Pool(1, port=server.port, user="admin", password="admin", timeout=10) as pool:
        with pool.connection():
            with pytest.raises(TimedOut):
                with pool.connection(timeout=0.05):
                    pass
        with pool.connection() as c:
            assert c.execute("k").ok
