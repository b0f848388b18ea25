"""Fixtures: the real zor_nosql_server in a temporary directory on a free loopback port, with a
zor_ndb.toml for the user admin (password admin) and the shipped init.nos.

The program is ZOR_SERVER when set, else build/release/app/zor_nosql_server of this checkout.
It is hard-linked (copied when that fails) into the directory, because the server writes its
log file beside its own program. Every wait is bounded; the server is killed at the end.
"""

import os
import pathlib
import shutil
import socket
import subprocess
import time

import pytest

import zor_nosql

REPO = pathlib.Path(__file__).resolve().parents[3]
USER = "admin"
PASSWORD = "admin"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


class Server:
    def __init__(self, directory):
        program = pathlib.Path(os.environ.get(
            "ZOR_SERVER", REPO / "build/release/app/zor_nosql_server"))
        if not program.is_file():
            pytest.fail(f"no server program at {program}: build the release preset or set "
                        "ZOR_SERVER", pytrace=False)
        self.directory = directory
        self.port = free_port()
        local = directory / "zor_nosql_server"
        try:
            os.link(program, local)
        except OSError:
            shutil.copy2(program, local)
        (directory / "zor_ndb.toml").write_text(
            f'[server]\nport = {self.port}\n\n[users]\nusers_list = [\n'
            f'  {{ name = "{USER}", password = "{zor_nosql.digest(PASSWORD)}" }},\n]\n')
        shutil.copy(REPO / "examples/init.nos", directory / "init.nos")
        env = {k: v for k, v in os.environ.items() if k != "NOTIFY_SOCKET"}
        env["ZOR_BIND_ADDRESS"] = "127.0.0.1"
        self.output = open(directory / "output.txt", "wb")
        self.process = subprocess.Popen([str(local)], cwd=directory, env=env,
                                        stdin=subprocess.DEVNULL, stdout=self.output,
                                        stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 15
        while not _accepts(self.port):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                pytest.fail("the server did not start:\n" +
                            (directory / "output.txt").read_text(errors="replace"))
            time.sleep(0.02)

    def connect(self, **overrides):
        args = dict(port=self.port, user=USER, password=PASSWORD, timeout=10)
        args.update(overrides)
        return zor_nosql.connect(**args)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=10)
        self.output.close()


@pytest.fixture(scope="session")
def server(tmp_path_factory):
    s = Server(tmp_path_factory.mktemp("zor_server"))
    yield s
    s.stop()


@pytest.fixture
def db(server):
    with server.connect() as connection:
        yield connection
