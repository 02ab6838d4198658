// Scan files in physical units and their compact sources, through the same
// procedures as vm-scan calibrate and vm-scan sources.
#include <sstream>

#include "calibrate/source_table.h"
#include "python/bindings/python_values.h"
#include "platform/paths.h"
#include "scan/calibrated_run.h"

namespace {

py::dict PolarisationOf(const ScanCalibration& c, int p) {
    const auto i = static_cast<std::size_t>(p);
    const ProfileFit& fit = c.fits[i];
    std::vector<double> sky;
    for (const double x : c.offsets) sky.push_back(SkyAt(fit, x));
    py::dict polarisation;
    polarisation["sky"] = DoubleArray(sky);
    polarisation["sky_level"] = fit.skyLevel;
    polarisation["sky_slope"] = fit.skySlope;
    polarisation["noise"] = fit.noise;
    polarisation["quiet"] = fit.quiet;
    polarisation["quiet_error"] = fit.quietError;
    polarisation["gain"] = c.gain[i];
    polarisation["scales"] = DoubleArray(c.scales[i]);
    polarisation["temperature"] = DoubleArray(c.temperature[i]);
    return polarisation;
}

py::list RefusedOf(const std::vector<RefusedScan>& refused) {
    py::list list;
    for (const RefusedScan& r : refused) list.append(py::make_tuple(Text(r.name), Text(r.reason)));
    return list;
}

const ScanRecording& RecordingOrNone(const py::object& recording, const ScanRecording& none) {
    const ScanRecording* planned = RecordingOf(recording);
    return planned ? *planned : none;
}

}  // namespace

void AddCalibrationBindings(py::module_& m) {
    m.def(
        "calibrate",
        [](const py::object& scan, const py::object& recording) {
            const ScanRecording none;
            const ScanRecording& planned = RecordingOrNone(recording, none);
            CalibratedScan s;
            s.name = ScanPathOf(scan);
            s.scan = ScanOf(scan);
            std::string error;
            bool calibrated = false;
            {
                py::gil_scoped_release released;
                calibrated = CalibrateScanContents(planned, s, error);
            }
            py::dict result;
            result["refused"] = calibrated ? py::object(py::none()) : py::object(Text(error));
            if (!calibrated) return result;
            const ScanCalibration& c = s.calibration;
            result["offsets"] = DoubleArray(c.offsets);
            result["rr"] = PolarisationOf(c, kRR);
            result["ll"] = PolarisationOf(c, kLL);
            result["i"] = DoubleArray(c.stokesI);
            result["v"] = DoubleArray(c.stokesV);
            result["quiet_temperature"] = c.quietTemperature;
            result["disk_radius"] = c.stokesIFit.radius;
            result["disk_centre"] = c.stokesIFit.centre;
            result["beam_sigma"] = c.stokesIFit.beamSigma;
            return result;
        },
        py::arg("scan"), py::arg("recording") = py::none(),
        "Calibrates a scan file as vm-scan calibrate does; 'refused' holds the reason when it cannot be.");

    m.def(
        "sources",
        [](const std::vector<std::string>& paths, const py::object& recording, unsigned jobs) {
            const ScanRecording none;
            const ScanRecording& planned = RecordingOrNone(recording, none);
            std::vector<CalibratedScan> scans;
            std::vector<RefusedScan> refused;
            std::vector<ScanSources> found;
            std::vector<SourceTrack> tracks;
            std::ostringstream said;  // the same reasons are in `refused` and the rejected sources
            {
                py::gil_scoped_release released;
                CalibrateScanFiles(paths, planned, jobs, scans, refused, said);
                FindRunSources(scans, found, tracks, refused, said);
            }
            py::list columns, rows, rejected;
            columns.append(py::make_tuple("source", ""));
            columns.append(py::make_tuple("scan_file", ""));
            for (const SourceColumn& column : SourceColumns()) columns.append(py::make_tuple(column.name, column.unit));
            columns.append(py::make_tuple("flux_factor_source", ""));
            for (const SourceRow& row : SourceRows(found, tracks)) {
                const ScanSources& scan = found[row.scan];
                py::list values;
                values.append(row.source);
                values.append(Text(FileNameOfPath(scan.name)));
                for (const SourceColumn& column : SourceColumns())
                    values.append(column.value(scan, scan.sources[row.point]));
                values.append(FluxFactorSourceName(scan.fluxFactorSource));
                rows.append(py::tuple(values));
            }
            for (const ScanSources& scan : found)
                for (const RejectedSource& r : scan.rejected)
                    rejected.append(py::make_tuple(Text(FileNameOfPath(scan.name)), r.source.shape.position,
                                                   r.source.vOverI, r.source.vOverIError, Text(r.reason)));
            py::dict result;
            result["columns"] = columns;
            result["rows"] = rows;
            result["refused"] = RefusedOf(refused);
            result["rejected"] = rejected;
            return result;
        },
        py::arg("paths"), py::arg("recording") = py::none(), py::arg("jobs") = 0u,
        "The compact sources of the scan files as vm-scan sources finds them, with the refusals.");

    m.def(
        "whole_sun",
        [](const std::vector<std::string>& paths, const py::object& recording, unsigned jobs) {
            const ScanRecording none;
            const ScanRecording& planned = RecordingOrNone(recording, none);
            std::vector<CalibratedScan> scans;
            std::vector<RefusedScan> refused;
            std::vector<WholeSunFlux> fluxes;
            std::ostringstream said;  // the same reasons are in `refused`
            {
                py::gil_scoped_release released;
                CalibrateScanFiles(paths, planned, jobs, scans, refused, said);
                MeasureRunFluxes(scans, fluxes, refused, said);
            }
            py::list columns, rows;
            columns.append(py::make_tuple("scan_file", ""));
            for (const WholeSunColumn& column : WholeSunColumns()) columns.append(py::make_tuple(column.name, column.unit));
            for (const WholeSunFlux* flux : ByRisingFrequency(fluxes)) {
                py::list values;
                values.append(Text(FileNameOfPath(flux->name)));
                for (const WholeSunColumn& column : WholeSunColumns()) values.append(column.value(*flux));
                rows.append(py::tuple(values));
            }
            py::dict result;
            result["columns"] = columns;
            result["rows"] = rows;
            result["refused"] = RefusedOf(refused);
            return result;
        },
        py::arg("paths"), py::arg("recording") = py::none(), py::arg("jobs") = 0u,
        "The whole Sun's flux of the scan files as vm-scan flux measures it, with the refusals.");
}
