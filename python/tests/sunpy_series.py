"""The daily flux series of a simulated run of days loads as a SunPy TimeSeries.

Run by CTest (sunpy_series): vm-simobs --days, vm-batch --catalog, vm-archive
flux --csv, then vmfits.read_daily_flux. Ends with 77 (skipped), naming why,
where SunPy cannot be imported.
"""

import csv
import os
import pathlib
import subprocess
import sys
import tempfile

SOURCE = pathlib.Path(os.environ["VMFITS_SOURCE_DIR"])
TOOLS = pathlib.Path(os.environ["VMFITS_BUILD_DIR"]) / "tools"
UNAVAILABLE = pathlib.Path(os.environ["VMFITS_SOURCE_DIR"]) / "build" / "setup" / "sunpy-unavailable.txt"


def run(*args):
    done = subprocess.run([str(a) for a in args], capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"{' '.join(map(str, args))}: exit {done.returncode}\n{done.stderr}")
    return done.stdout


def main():
    try:
        import sunpy.timeseries  # noqa: F401
    except ImportError as e:
        why = UNAVAILABLE.read_text().strip() if UNAVAILABLE.exists() else f"import sunpy.timeseries: {e}"
        print(f"skipped: SunPy cannot be imported ({why})")
        return 77
    import vmfits
    from sunpy.timeseries import GenericTimeSeries

    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        run(TOOLS / "vm-simobs", "--days", 4, "--channels", 8, "--samples", 1500, "--cfg", "--out", work / "run")
        table = next((work / "run").glob("*/vm-fits.cfg"))
        run(TOOLS / "vm-batch", work / "run", work / "out", "--cfg", table, "--catalog", work / "catalog.sqlite")
        series_csv = work / "flux.csv"
        run(TOOLS / "vm-archive", "flux", work / "catalog.sqlite", "--frequency", "2.8", "9.4", "--csv", series_csv)
        rows = list(csv.DictReader(open(series_csv)))

        series = vmfits.read_daily_flux(series_csv)
        assert isinstance(series, GenericTimeSeries)
        assert series.columns == ["2.8 GHz", "2.8 GHz error", "9.4 GHz", "9.4 GHz error"], series.columns
        assert len(series.to_dataframe()) == 4 == len(rows) // 2
        assert all(str(series.units[c]) == "sfu" for c in series.columns)
        flux = series.quantity("2.8 GHz")
        assert flux.unit == vmfits.sfu
        wanted = [float(r["flux_sfu"]) for r in rows if r["frequency_ghz"] == "2.8"]
        assert list(flux.value) == wanted, (list(flux.value), wanted)
        assert series.time_range.days.value > 2.9
        truncated = work / "bad.csv"
        truncated.write_text("observed,date\n2003-11-05T09:00:00.00,2003-11-05\n")
        try:
            vmfits.read_daily_flux(truncated)
        except ValueError as e:
            assert "bad.csv" in str(e) and "flux_sfu" in str(e), e
        else:
            raise AssertionError("a table without the flux columns was read")
    print(f"ok: {len(rows) // 2} days at 2.8 and 9.4 GHz as a SunPy TimeSeries in sfu")
    return 0


if __name__ == "__main__":
    sys.exit(main())
