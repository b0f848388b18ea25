"""The Python example in examples/ runs against a server as its documentation says."""

import os
import subprocess
import sys

from conftest import REPO


def test_the_example_script_runs(server):
    env = dict(os.environ, ZOR_PASSWORD="admin",
               PYTHONPATH=str(REPO / "clients/python") + os.pathsep + os.environ.get(
                   "PYTHONPATH", ""))
    for _ in range(2):  # a second run starts over on what the first one left
        result = subprocess.run(
            [sys.executable, str(REPO / "examples/python_client.py"), "--port", str(server.port)],
            env=env, capture_output=True, text=True, timeout=60)
        assert result.returncode == 0, result.stderr
        assert "apples: 12" in result.stdout
