"""docs/python.md as a user takes it: its commands, then its code blocks in order."""

import os
import re
import subprocess
import sys

import pytest

from conftest import BUILD, SOURCE

PAGE = (SOURCE / "docs" / "python.md").read_text()


def blocks(language):
    return re.findall(r"```" + language + r"\n(.*?)```", PAGE, re.S)


def test_the_walk_through_runs(tmp_path, monkeypatch):
    code = blocks("python")
    assert len(code) == 6
    (tmp_path / "samples").symlink_to(SOURCE / "samples")
    monkeypatch.chdir(tmp_path)
    namespace = {}
    for block in code:
        exec(compile(block, "docs/python.md", "exec"), namespace)
    for picture in ("rr-ll.png", "i-v.png"):
        assert (tmp_path / "out" / "python" / picture).stat().st_size > 10000
    assert len(namespace["sources"]) > 0 and len(namespace["fluxes"]) > 0


def shell(command, cwd, env=None):
    done = subprocess.run(["bash", "-c", command], cwd=cwd, capture_output=True, text=True, env=env)
    assert done.returncode == 0, done.stderr
    return done.stdout


@pytest.mark.skipif(BUILD != SOURCE / "build" / "linux", reason="the page names build/linux")
def test_the_import_from_the_repository_root():
    command = next(line for line in blocks("sh")[0].splitlines() if "import vmfits" in line)
    assert shell(command, SOURCE).strip() == __import__("vmfits").__version__


def test_the_install_command(tmp_path):
    command = next(line for line in blocks("sh")[1].splitlines() if line.startswith("cmake --install"))
    home = tmp_path / "home"
    command = command.replace("build/linux", str(BUILD)).replace("~", str(home))
    shell(command, SOURCE)
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONNOUSERSITE")}
    env["HOME"] = str(home)
    printed = shell(f"{sys.executable} -c 'import vmfits; print(vmfits.__version__, vmfits.__file__)'", tmp_path, env)
    version, where = printed.split()
    assert version == __import__("vmfits").__version__ and where.startswith(str(home))
