"""vmfits against the programs on the sample, and on bad input."""

import csv
import io
import json
import os
import random
import subprocess
import sys
import threading

import numpy as np
import pytest

import vmfits
from conftest import run, tool


def test_version_is_the_programs():
    assert run(tool("vm-fits"), "--version").decode().split() == ["vm-fits", vmfits.__version__]


def test_conversion_writes_the_bytes_vm_fits_writes(tmp_path, sample, converted):
    done = vmfits.convert(sample["header"], tmp_path / "out", cfg=sample["cfg"])
    assert done.converted and done.all_written
    assert [w.id for w in done.warnings] == ["ar-short", "ar-missing"]
    assert all(w.id in vmfits.WARNING_KINDS for w in done.warnings)
    written = sorted(os.listdir(tmp_path / "out"))
    assert written == sorted(os.listdir(converted))
    for name in written:
        assert (tmp_path / "out" / name).read_bytes() == (converted / name).read_bytes(), name
    assert done.scan_files == [str(tmp_path / "out" / n) for n in written if not n.endswith(".0hd")]


def test_recording_is_what_explain_gives(sample):
    recording = vmfits.read_recording(sample["header"], cfg=sample["cfg"])
    explained = json.loads(run(tool("vm-scan"), "explain", "--json", "--cfg", sample["cfg"], sample["header"]))
    assert recording.explanation == explained
    assert [tuple(w) for w in recording.warnings] == [
        (w["id"], w["channel"], w["message"]) for w in explained["warnings"]]
    assert recording.plan[3] == "ar3 cannot be opened"
    assert recording.header["year"] == 2003 and recording.markers[0] == (13, 29)
    assert recording.explain() == run(tool("vm-scan"), "explain", "--cfg", sample["cfg"], sample["header"]).decode()
    for missing in ("", sample["header"].parent / "nothing.05h"):
        with pytest.raises(FileNotFoundError, match="Can't open"):
            vmfits.read_recording(missing)


def test_scan_files_hold_what_vm_scan_reads(converted):
    scans = vmfits.read_index(converted / "s05b03_05z.0hd")
    assert [s.name for s in scans] == [f"s05b03_05z.00{k}" for k in range(1, 8)]
    for scan in scans:
        rows = list(csv.DictReader(io.StringIO(run(tool("vm-scan"), "data", scan.path).decode())))
        al, ar = (np.array([float(r[k]) for r in rows], dtype=np.float32) for k in ("al", "ar"))
        assert np.array_equal(scan.rr, al) and np.array_equal(scan.ll, ar)
        assert np.allclose(scan.offset.value, [float(r["offset_arcsec"]) for r in rows], rtol=1e-9)
        printed = run(tool("vm-scan"), "cards", scan.path).decode()
        for card in scan.cards.all():
            assert card.text in printed
        # The file's cards are the table's, in its order, typed by its kinds.
        table = [(group, keyword) for group, keyword, kind, _, _ in vmfits.SCAN_CARDS if kind != "end"]
        assert [(c.group, c.keyword) for c in scan.cards.all()] == table
    kinds = {keyword: kind for _, keyword, kind, _, _ in vmfits.SCAN_CARDS}
    for keyword, value in scans[0].cards.items():
        assert isinstance(value, {"whole": int, "real": float}.get(kinds[keyword], str)), keyword
    assert scans[0].cards["NAXIS1"] == 2048 and scans[0].cards["OBJECT"] == "SUN A0"
    assert scans[0].frequency.to_value("GHz") == pytest.approx(1.168)


def test_temperatures_are_those_of_vm_scan(sample, converted):
    recording = vmfits.read_recording(sample["header"], cfg=sample["cfg"])
    scan = vmfits.read_scan(converted / "s05b03_05z.002")
    got = vmfits.calibrate(scan, recording)
    rows = list(csv.DictReader(io.StringIO(run(
        tool("vm-scan"), "data", "--calibrated", "--recording", sample["header"], "--cfg", sample["cfg"],
        scan.path).decode())))
    for column, values in (("t_rr_k", got.t_rr), ("t_ll_k", got.t_ll), ("i_k", got.i), ("v_k", got.v)):
        assert values.unit == "K"
        assert np.array_equal(values.value.astype(np.float32), np.array([float(r[column]) for r in rows], np.float32))
    with pytest.raises(vmfits.CalibrationRefused, match="s05b03_05z.001: refused, the recording warns of it"):
        vmfits.calibrate(converted / "s05b03_05z.001", recording)


@pytest.mark.parametrize("call, command, units", [
    (vmfits.sources, "sources", {"flux_sfu": "sfu", "offset_arcsec": "arcsec"}),
    (vmfits.whole_sun, "flux", {"flux_sfu": "sfu", "beam_fwhm_arcsec": "arcsec", "frequency_ghz": "GHz"}),
])
def test_tables_are_what_vm_scan_prints(sample, converted, call, command, units):
    index = converted / "s05b03_05z.0hd"
    table = call(index, recording=vmfits.read_recording(sample["header"], cfg=sample["cfg"]))
    printed = run(tool("vm-scan"), command, "--recording", sample["header"], "--cfg", sample["cfg"], index,
                  ok=(0, 1)).decode()
    rows = list(csv.DictReader(io.StringIO(printed)))
    assert len(table) == len(rows) > 0
    assert all(table[name].unit == unit for name, unit in units.items())
    for got, want in zip(table, rows):
        for name in want:
            value = got[name]
            text = ("%.7g" % value) if isinstance(value, (float, np.floating)) else str(value)
            assert text == want[name] or (want[name] == "" and not np.isfinite(value)), name
    assert [r["scan_file"] for r in table.meta["refused"]] == ["s05b03_05z.001"]


def test_fits_is_what_vm_scan_fits_writes(tmp_path, sample, converted, monkeypatch):
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "1700000000")
    scan = vmfits.read_scan(converted / "s05b03_05z.003")
    scan.to_fits(tmp_path / "mine.fits", recording=vmfits.read_recording(sample["header"], cfg=sample["cfg"]))
    run(tool("vm-scan"), "fits", "--recording", sample["header"], "--cfg", sample["cfg"], "-o", tmp_path / "theirs",
        scan.path, env=dict(os.environ, SOURCE_DATE_EPOCH="1700000000"))
    assert (tmp_path / "mine.fits").read_bytes() == (tmp_path / "theirs" / "s05b03_05z.003.fits").read_bytes()


def test_calibration_lets_other_threads_run(converted):
    scan = vmfits.read_scan(converted / "s05b03_05z.004")
    worker = threading.Thread(target=vmfits.calibrate, args=(scan,))
    turns = 0
    worker.start()
    while worker.is_alive():
        turns += 1
    worker.join()
    # With the interpreter held for the whole calibration the loop would
    # hardly turn.
    assert turns > 10000


def _damaged(source, rng):
    """Cut-short copies of a file and copies with random bytes in places."""
    data = source.read_bytes()
    cuts = [data[:n] for n in (0, 1, 9, 10, 79, 80, len(data) // 3, len(data) - 1)]
    noisy = []
    for _ in range(12):
        copy = bytearray(data)
        for _ in range(rng.randint(1, 40)):
            copy[rng.randrange(len(copy))] = rng.randrange(256)
        noisy.append(bytes(copy))
    return cuts + noisy + [bytes(rng.randrange(256) for _ in range(rng.randint(1, 3000)))]


@pytest.mark.parametrize("kind", ["scan", "recording"])
def test_bad_bytes_raise_and_never_crash(tmp_path, sample, converted, kind):
    """Each damaged file is read in a child interpreter, so that a crash is seen as one."""
    rng = random.Random(7)
    source = converted / "s05b03_05z.002" if kind == "scan" else sample["header"]
    files = []
    for k, data in enumerate(_damaged(source, rng)):
        path = tmp_path / f"damaged-{k}"
        path.write_bytes(data)
        files.append(str(path))
    script = f"""
import sys, vmfits
for path in sys.argv[1:]:
    try:
        {'vmfits.read_scan(path)' if kind == 'scan' else 'vmfits.read_recording(path, cfg=' + repr(str(sample['cfg'])) + ')'}
        print("read", path)
    except (ValueError, OSError) as e:
        assert str(e), path
        print("raised", path)
"""
    done = subprocess.run([sys.executable, "-c", script, *files], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert done.returncode == 0, done.stderr
    outcomes = [line.split()[0] for line in done.stdout.splitlines()]
    assert len(outcomes) == len(files)
    if kind == "scan":
        # Only cut-short copies that still hold whole cards and blocks could
        # read, and none does: every one raised.
        assert outcomes[:8] == ["raised"] * 8
