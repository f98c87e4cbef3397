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


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """Under CI (KESTRIX_REQUIRE_ALL_TESTS=1) a test that would be skipped fails: a green run means all ran."""
    outcome = yield
    report = outcome.get_result()
    if report.skipped and os.environ.get("KESTRIX_REQUIRE_ALL_TESTS") == "1" and not hasattr(report, "wasxfail"):
        reason = report.longrepr[2] if isinstance(report.longrepr, tuple) else str(report.longrepr)
        report.outcome = "failed"
        report.longrepr = f"would be skipped, but every test must run here: {reason}"
