"""vm-fits for Python: recordings, their conversion, scan files and physical units.

The work is done by the same C++ libraries as the programs vm-fits and vm-scan
(the extension ``vmfits._vmfits``); this package gives their values astropy
units and tables.
"""

import functools
import os
from collections.abc import Mapping
from typing import NamedTuple

import numpy as np
from astropy import units as u
from astropy.table import Table

from . import _vmfits

__version__ = _vmfits.__version__

__all__ = [
    "__version__", "read_recording", "convert", "read_scan", "read_index", "calibrate", "sources", "whole_sun", "sfu",
    "Recording", "RecordingWarning", "Conversion", "ScanFile", "Card", "Cards", "Calibration",
    "CalibrationRefused", "WARNING_KINDS", "SCAN_CARDS",
]

# The solar flux unit, 1e-22 W m^-2 Hz^-1, known to astropy by its name too.
sfu = u.def_unit("sfu", 1e-22 * u.W / u.m ** 2 / u.Hz, doc="solar flux unit")
u.add_enabled_units([sfu])
_UNITS = {"": None, "GHz": u.GHz, "arcsec": u.arcsec, "K": u.K, "sfu": sfu}


class CalibrationRefused(ValueError):
    """A scan file that cannot be calibrated; ``reason`` says why, naming the file."""

    def __init__(self, reason):
        super().__init__(reason)
        self.reason = reason


class RecordingWarning(NamedTuple):
    """A warning about a recording, as vm-fits gives it."""

    id: str
    channel: int  # None: the recording as a whole
    message: str


# The cards of a scan file in the writer's order: group, keyword, kind,
# the printf format of the value and the comment.
SCAN_CARDS = list(_vmfits.scan_card_table)

# Every warning id the programs give, with what it means, in their order.
WARNING_KINDS = dict(_vmfits.warning_kinds)


def _path(path):
    return os.fsencode(os.fspath(path))


def _optional_path(path):
    return None if path is None else _path(path)


class Recording:
    """A recording read and planned as ``vm-scan explain`` plans it."""

    def __init__(self, handle):
        self._handle = handle
        self.path = handle.header_path
        self.header = handle.header()
        explanation = handle.explanation()
        self.explanation = explanation
        self.warnings = [RecordingWarning(*w) for w in handle.warnings()]
        values = handle.marker_values()
        # The marker file holds position/tag pairs of 16-bit values.
        self.markers = list(zip(values[0::2], values[1::2]))
        self.channels = explanation["channels"]
        self.scan_index = explanation["scan_index"]
        self.summary = explanation["summary"]

    @property
    def plan(self):
        """Per enabled channel: its scan file, or the reason it gets none."""
        return {c["channel"]: c["scan_file"] or c["reason"] for c in self.channels if c["enabled"]}

    def explain(self):
        """The text ``vm-scan explain`` prints."""
        return self._handle.explanation_text()

    def __repr__(self):
        return f"<Recording {self.path!r}: {self.summary}>"


def read_recording(header, cfg=None, back=False):
    """Reads the recording whose observation header is ``header``; ``cfg`` is the calibration table."""
    return Recording(_vmfits.read_recording(_path(header), _optional_path(cfg), bool(back)))


class Conversion(NamedTuple):
    exit_code: int  # 1 converted, 2 failed
    status: list
    scan_index: str
    scan_files: list
    all_written: bool
    warnings: list
    output_folder: str

    @property
    def converted(self):
        return self.exit_code == 1


def convert(header, output, cfg=None, back=False):
    """Converts a recording as ``vm-fits HEADER OUTPUT [BACK]`` does; remembers no folders."""
    result = _vmfits.convert(_path(header), _path(output), _optional_path(cfg), bool(back))
    result["warnings"] = [RecordingWarning(*w) for w in result["warnings"]]
    return Conversion(**result)


class Card(NamedTuple):
    group: int  # 0 main header, 1 channel group, 2 and 3 the polarisations
    keyword: str
    value: object  # int, float, str, or None for a COMMENT card
    comment: str
    text: str  # the card as it stands


class Cards(Mapping):
    """A scan file's cards in order. ``cards[KEYWORD]`` is the value of its first card of that keyword."""

    def __init__(self, cards):
        self._cards = [Card(*c) for c in cards]
        self._first = {}
        for card in self._cards:
            if card.value is not None:
                self._first.setdefault(card.keyword, card)

    def __getitem__(self, keyword):
        return self._first[keyword].value

    def __iter__(self):
        return iter(self._first)

    def __len__(self):
        return len(self._first)

    def comment(self, keyword):
        return self._first[keyword].comment

    def all(self):
        """Every card, COMMENT cards and repeated keywords included, in file order."""
        return list(self._cards)

    def group(self, number):
        return [c for c in self._cards if c.group == number]


class ScanFile:
    """A scan file read back: its cards, RR and LL in recorder units, the offsets and the frequency.

    The file is read and checked whole when the object is made; its cards,
    ``rr``, ``ll`` and ``offset`` become Python objects on first use.
    """

    def __init__(self, handle):
        self._handle = handle
        self.path = handle.path

    @property
    def name(self):
        return os.path.basename(self.path)

    @functools.cached_property
    def cards(self):
        return Cards(self._handle.cards())

    @functools.cached_property
    def frequency(self):
        """OBS-FREQ, GHz."""
        return self._handle.frequency * u.GHz

    @functools.cached_property
    def _blocks(self):
        blocks = self._handle.blocks()
        rr = self._handle.rr_block()
        return blocks[rr][3], blocks[1 - rr][3]

    @property
    def rr(self):
        """The block of POLARIZ 1 as v x BSCALE + BZERO (32-bit floats)."""
        return self._blocks[0]

    @property
    def ll(self):
        """The block of POLARIZ 0 as v x BSCALE + BZERO (32-bit floats)."""
        return self._blocks[1]

    @functools.cached_property
    def offset(self):
        """CDELT1 x (place - PMCSUN) of the places 1 to n, in arc seconds."""
        return u.Quantity(self._handle.offsets(), u.arcsec, copy=False)

    def to_fits(self, path, recording=None):
        """Writes what ``vm-scan fits`` writes (with ``recording``, its warnings and QUALITY image)."""
        _vmfits.write_fits(self._handle, _path(path), _handle_of(recording))

    def __repr__(self):
        return f"<ScanFile {self.name}: {self.frequency:.3f}, {self.cards.get('NAXIS1')} points>"


def read_scan(path):
    """Reads a scan file; FileNotFoundError or ValueError name the file and what is wrong."""
    return ScanFile(_vmfits.read_scan(_path(path)))


def read_index(path):
    """The scan files a scan index lists, in order (read on every processor)."""
    return [ScanFile(h) for h in _vmfits.read_scans([p for p, _ in _vmfits.read_index(_path(path))])]


def _handle_of(recording):
    if recording is None:
        return None
    if not isinstance(recording, Recording):
        # A header alone would be planned without its calibration table, and
        # would then give none of the scan files.
        raise TypeError("recording is a vmfits.Recording: read_recording(header, cfg=table)")
    return recording._handle


class Calibration(NamedTuple):
    t_rr: u.Quantity
    t_ll: u.Quantity
    i: u.Quantity
    v: u.Quantity
    offset: u.Quantity
    rr: dict  # sky (recorder units per point), sky_level, sky_slope, noise, quiet, quiet_error, gain, scales
    ll: dict
    quiet_temperature: u.Quantity
    disk_radius: u.Quantity
    disk_centre: u.Quantity


def calibrate(scan, recording=None):
    """The scan file in antenna temperature, as ``vm-scan calibrate`` gives it.

    ``recording`` (from read_recording, with the table the scan file was
    converted with) tells what the conversion did to the samples. Raises CalibrationRefused with the reason when the scan file
    cannot be calibrated.
    """
    if not isinstance(scan, ScanFile):
        scan = read_scan(scan)
    c = _vmfits.calibrate(scan._handle, _handle_of(recording))
    if c["refused"] is not None:
        raise CalibrationRefused(c["refused"])
    return Calibration(
        t_rr=c["rr"]["temperature"] * u.K, t_ll=c["ll"]["temperature"] * u.K,
        i=c["i"] * u.K, v=c["v"] * u.K, offset=c["offsets"] * u.arcsec,
        rr=c["rr"], ll=c["ll"], quiet_temperature=c["quiet_temperature"] * u.K,
        disk_radius=c["disk_radius"] * u.arcsec, disk_centre=c["disk_centre"] * u.arcsec)


def _scan_paths(index_or_scans):
    if isinstance(index_or_scans, (str, bytes, os.PathLike)):
        return [_path(p) for p, _ in _vmfits.read_index(_path(index_or_scans))]
    return [_path(s.path if isinstance(s, ScanFile) else os.fsdecode(s)) for s in index_or_scans]


def _table(found, texts=("scan_file",), integers=()):
    columns = list(zip(*found["rows"])) if found["rows"] else [[] for _ in found["columns"]]
    table = Table()
    for (name, unit), values in zip(found["columns"], columns):
        if name in integers:
            table[name] = np.array(values, dtype=int)
        elif name in texts:
            table[name] = np.array(values, dtype=str)
        else:
            table[name] = np.array(values, dtype=float)
            if _UNITS[unit] is not None:
                table[name].unit = _UNITS[unit]
    table.meta["refused"] = [{"scan_file": os.path.basename(n), "reason": r} for n, r in found["refused"]]
    return table


def whole_sun(index_or_scans, recording=None, jobs=0):
    """The whole Sun's flux density of each scan file as ``vm-scan flux`` measures it.

    An astropy Table, one row per calibrated scan file by frequency, with
    units (GHz, sfu, arcsec); the scan files refused are in
    ``table.meta["refused"]``.
    """
    return _table(_vmfits.whole_sun(_scan_paths(index_or_scans), _handle_of(recording), int(jobs)))


def sources(index_or_scans, recording=None, jobs=0):
    """The compact sources as ``vm-scan sources`` finds them: an astropy Table with units.

    One row per source and scan file; ``source`` numbers the source followed
    across frequencies. The scan files refused and the sources left out for
    their V/I are in ``table.meta["refused"]`` and ``table.meta["rejected"]``.
    """
    found = _vmfits.sources(_scan_paths(index_or_scans), _handle_of(recording), int(jobs))
    table = _table(found, texts=("scan_file", "flux_factor_source"), integers=("source",))
    table.meta["rejected"] = [
        {"scan_file": f, "offset_arcsec": o, "v_over_i": vi, "v_over_i_error": e, "reason": r}
        for f, o, vi, e, r in found["rejected"]]
    return table
