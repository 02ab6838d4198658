"""Checks a FITS file exported by vm-scan against `vm-scan data` of its scan file.

usage: check_fits.py FITS CSV DATE-OBS [RL|IV]
Exits with 0 when the shape, the WCS axes, DATE-OBS, the checksums and the data agree.
With RL or IV the file is one of vm-scan calibrate, in kelvin, and CSV is `vm-scan data --calibrated`.
"""
import csv
import sys
import warnings

import numpy
from astropy.io import fits
from astropy.wcs import WCS

warnings.simplefilter("error")  # a wrong checksum or a bad card is a warning
warnings.filterwarnings("ignore", message=".*datfix.*")  # astropy notes MJD-OBS it derives

fits_path, csv_path, date_obs = sys.argv[1:4]
calibrated = sys.argv[4] if len(sys.argv) > 4 else None
codes, columns = {None: ((-1, -2), ("al", "ar")), "RL": ((-1, -2), ("t_rr_k", "t_ll_k")),
                  "IV": ((1, 4), ("i_k", "v_k"))}[calibrated]
with open(csv_path, newline="") as f:
    rows = list(csv.DictReader(f))
n = len(rows)
with fits.open(fits_path, checksum=True) as hdus:
    # The QUALITY image comes with a recording: the flags of the same points.
    assert len(hdus) == 1 or hdus[1].header["EXTNAME"] == "QUALITY", len(hdus)
    header, data = hdus[0].header, hdus[0].data
    assert header["BITPIX"] == -32
    shape = data.shape if data is not None else (header["NAXIS3"], header["NAXIS2"], header["NAXIS1"])
    assert shape == (1, 2, n), shape
    assert header["DATE-OBS"] == date_obs, header["DATE-OBS"]
    assert header["TIMESYS"] == "UTC"
    assert not calibrated or header["BUNIT"] == "K", header.get("BUNIT")
    # A value that is not a finite number is named in a COMMENT card instead.
    comments = [str(c) for c in header.get("COMMENT", [])]
    for key in ("TELESCOP", "ORIGIN", "OBJECT", "CHECKSUM", "DATASUM", "AZIMUTH", "ALTITUDE", "ANGLE",
                "RADIUS", "PMCSUN", "CALIBR", "TCALIBR", "FLUX_L", "TQSUN", "THETA_DG", "OBSFREQ"):
        assert key in header or any(c.startswith(key + " (") for c in comments), key
    wcs = WCS(header)
    assert list(wcs.wcs.ctype) == ["OFFSET", "STOKES", "FREQ"], wcs.wcs.ctype
    assert [str(u) for u in wcs.wcs.cunit] == ["arcsec", "", "Hz"], wcs.wcs.cunit
    if n:
        places = numpy.arange(n, dtype=float)
        offset, stokes, freq = wcs.wcs_pix2world(places, numpy.zeros(n), numpy.zeros(n), 0)
        stokes_ll = wcs.wcs_pix2world([0.0], [1.0], [0.0], 0)[1][0]
        assert (stokes == codes[0]).all() and stokes_ll == codes[1], (stokes[:1], stokes_ll)
        assert numpy.allclose(freq, header["OBSFREQ"] * 1e9)
        expected_offset = numpy.array([float(r["offset_arcsec"]) for r in rows])
        assert numpy.allclose(offset, expected_offset, rtol=0, atol=1e-6), abs(offset - expected_offset).max()
        al = numpy.array([r[columns[0]] for r in rows], dtype=numpy.float32)
        ar = numpy.array([r[columns[1]] for r in rows], dtype=numpy.float32)
        assert numpy.array_equal(data[0, 0], al, equal_nan=True)
        assert numpy.array_equal(data[0, 1], ar, equal_nan=True)
print("ok")
