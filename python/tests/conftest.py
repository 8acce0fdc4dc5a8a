"""Fixtures of the quorix package's tests: emulated cameras served by quorix-camsim, found by the
SDK through QUORIX_SIM_DIR, and a settings store of the test's own (XDG_CONFIG_HOME).

Environment: QUORIX_CAMSIM names the quorix-camsim program (ctest sets it, and QUORIX_LIBRARY
for the library under test).
"""

import glob
import os
import signal
import subprocess
import time

import pytest

import quorix

# The emulated camera's frame rate for every test: slow enough for a loaded machine to take each
# frame, so that a stream that loses one is at fault.
FRAMES_PER_SECOND = 10


class Daemon:
    """A quorix-camsim process serving one emulated camera in a socket directory."""

    def __init__(self, directory):
        program = os.environ.get("QUORIX_CAMSIM")
        if not program:
            pytest.fail("QUORIX_CAMSIM must name the quorix-camsim program")
        self.directory = str(directory)
        self.process = subprocess.Popen(
            [program, "--dir", self.directory, "--fps", str(FRAMES_PER_SECOND)],
            stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while not glob.glob(os.path.join(self.directory, "*.sock")):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                pytest.fail("quorix-camsim did not start serving its camera")
            time.sleep(0.05)

    def stop(self):
        """Ends the daemon as SIGTERM does: its camera is unplugged, then its socket removed."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=30)


@pytest.fixture(scope="session")
def daemon(tmp_path_factory):
    served = Daemon(tmp_path_factory.mktemp("cameras"))
    os.environ["QUORIX_SIM_DIR"] = served.directory
    yield served
    served.stop()


@pytest.fixture(autouse=True)
def settings_home(tmp_path, monkeypatch):
    """Every test starts from the SDK's default settings and never touches the user's."""
    monkeypatch.setenv("XDG_CONFIG_HOME", str(tmp_path / "config"))


@pytest.fixture
def cam(daemon):
    with quorix.open() as camera:
        yield camera
