import json
import os
import subprocess

import pytest


@pytest.fixture(scope="session")
def host():
    """Calls the built `kestrix call ... --json` host; skips when it is not at hand."""
    path = os.environ.get("KESTRIX_CLI")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("KESTRIX_CLI does not name the built kestrix command")

    def call(method, **arguments):
        args = [path, "call", method, "--json"]
        for name, value in arguments.items():
            args.append(f"{name}={getattr(value, 'name', value)!s}" if not isinstance(value, float)
                        else f"{name}={value!r}")
        done = subprocess.run(args, capture_output=True, text=True, timeout=60)
        return json.loads(done.stdout)

    return call
