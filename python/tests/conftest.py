"""Where the tests find the programs and the bundled sample (set by CTest)."""

import os
import pathlib
import subprocess

import pytest

SOURCE = pathlib.Path(os.environ.get("VMFITS_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BUILD = pathlib.Path(os.environ.get("VMFITS_BUILD_DIR", SOURCE / "build" / "linux"))
SAMPLE = SOURCE / "samples" / "sun-2003-11-05"


def tool(name):
    return str(BUILD / "tools" / name) if name != "vm-fits" else str(BUILD / "vm-fits")


def run(*args, ok=(0,), env=None):
    """Runs a program; its standard output."""
    done = subprocess.run([str(a) for a in args], capture_output=True, env=env, check=False)
    assert done.returncode in ok, done.stderr.decode(errors="replace")
    return done.stdout


@pytest.fixture(scope="session")
def sample():
    return {"header": SAMPLE / "sun.05h", "cfg": SAMPLE / "vm-fits.cfg"}


@pytest.fixture(scope="session")
def converted(tmp_path_factory, sample):
    """The sample converted by vm-fits, as the programs' reference."""
    out = tmp_path_factory.mktemp("vm-fits") / "out"
    run(tool("vm-fits"), "--cfg", sample["cfg"], sample["header"], out, ok=(1,),
        env=dict(os.environ, XDG_CONFIG_HOME=str(out.parent / "config")))
    return out
