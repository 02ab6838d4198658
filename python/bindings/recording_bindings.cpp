// Recordings: read and planned as vm-scan explain plans them, and converted
// through the conversion entry that vm-fits and vm-batch use.
#include "app/conversion.h"
#include "python/bindings/python_values.h"
#include "scan/calibrated_run.h"
#include "scan/explain.h"

#include <sstream>

namespace {

// A recording read once and planned with its samples kept: what explain
// shows, and what the calibration and the FITS export learn of its scan files.
struct RecordingHandle {
    RecordingOptions options;
    ScanRecording recording;
};

py::dict DmsOf(const DmsAngle& angle) {
    py::dict dms;
    dms["degrees"] = angle.degrees;
    dms["minutes"] = angle.minutes;
    dms["seconds"] = angle.seconds;
    return dms;
}

// The fields of the observation header, as decoded.
py::dict HeaderOf(const ObservationHeader& header) {
    const SetupBlock& setup = header.setup;
    const ReceiverBlock& receiver = header.receiver;
    const PointingBlock& pointing = header.pointing;
    py::dict fields;
    fields["year"] = setup.year;
    fields["month"] = setup.month;
    fields["day"] = setup.day;
    fields["object"] = Text(setup.objectName);
    py::dict time;
    time["hour"] = pointing.observationTime.hour;
    time["minute"] = pointing.observationTime.minute;
    time["second"] = pointing.observationTime.second;
    fields["time"] = time;
    fields["solar_radius_arcsec"] = pointing.solarRadius;
    fields["azimuth"] = DmsOf(pointing.azimuthDms);
    fields["altitude"] = DmsOf(pointing.altitudeDms);
    fields["declination"] = DmsOf(pointing.declinationDms);
    fields["angle_p"] = receiver.angleP;
    fields["pmc"] = receiver.pmc;
    fields["sampling_factors"] = py::make_tuple(receiver.samplingFactor1, receiver.samplingFactor2);
    fields["channel_frequency_ghz"] =
        DoubleArray(std::vector<double>(receiver.channelFrequency.begin(), receiver.channelFrequency.end()));
    py::list enabled, index, levels;
    for (int c = 0; c < kChannelCount; ++c) {
        enabled.append(setup.channelEnabled[static_cast<std::size_t>(c)] != 0);
        index.append(setup.calibrationIndex[static_cast<std::size_t>(c)]);
    }
    for (const int16_t level : setup.calibrationLevels) levels.append(level);
    fields["channel_enabled"] = enabled;
    fields["calibration_index"] = index;
    fields["calibration_levels"] = levels;
    return fields;
}

py::list WarningsOf(const std::vector<RunWarning>& warnings) {
    py::list list;
    for (const RunWarning& w : warnings)
        list.append(py::make_tuple(WarningName(w.id), w.channel == kWholeRecording ? py::object(py::none()) : py::int_(w.channel),
                                   Text(w.message)));
    return list;
}

RecordingOptions OptionsOf(const std::string& header, const std::optional<std::string>& cfg, bool back) {
    RecordingOptions options;
    options.headerPath = header;
    options.tablePath = cfg.value_or(std::string());
    options.thirdArgument = back;
    return options;
}

}  // namespace

void AddRecordingBindings(py::module_& m) {
    py::list kinds;
    for (const WarningKind& kind : WarningKinds()) kinds.append(py::make_tuple(kind.name, Text(kind.meaning)));
    m.attr("warning_kinds") = kinds;

    py::class_<RecordingHandle, std::shared_ptr<RecordingHandle>>(m, "RecordingHandle")
        .def_property_readonly("header_path", [](const RecordingHandle& h) { return Text(h.options.headerPath); })
        .def_property_readonly("table_path", [](const RecordingHandle& h) { return Text(h.options.tablePath); })
        .def_property_readonly("back", [](const RecordingHandle& h) { return h.options.thirdArgument; })
        .def("header", [](const RecordingHandle& h) { return HeaderOf(h.recording.explanation.header); })
        .def("explanation", [](const RecordingHandle& h) { return PythonOf(ExplanationJson(h.recording.explanation)); })
        .def("explanation_text",
             [](const RecordingHandle& h) {
                 std::ostringstream text;
                 WriteExplanationText(h.recording.explanation, text);
                 return Text(text.str());
             })
        .def("warnings", [](const RecordingHandle& h) { return WarningsOf(h.recording.explanation.warnings); })
        .def("marker_values", [](const RecordingHandle& h) {
            py::list values;
            for (const int16_t v : h.recording.explanation.run.markers) values.append(v);
            return values;
        });

    m.def(
        "read_recording",
        [](const std::string& header, const std::optional<std::string>& cfg, bool back) {
            // An empty path would plan no recording at all.
            if (header.empty()) Raise(PyExc_FileNotFoundError, "Can't open " + header);
            auto handle = std::make_shared<RecordingHandle>();
            handle->options = OptionsOf(header, cfg, back);
            std::string error;
            bool read = false;
            {
                py::gil_scoped_release released;
                read = LoadScanRecording(handle->options, handle->recording, error);
            }
            if (!read) RaiseAbout(header, error, PyExc_OSError);
            return handle;
        },
        py::arg("header"), py::arg("cfg") = py::none(), py::arg("back") = false,
        "Reads and plans a recording as vm-scan explain does; raises FileNotFoundError or OSError naming the header "
        "when it cannot be read.");

    m.def(
        "convert",
        [](const std::string& header, const std::string& output, const std::optional<std::string>& cfg, bool back) {
            ConversionRequest request;
            request.headerPath = header;
            request.outputFolder = output;
            request.repairMode = RepairModeForArguments(back ? 3 : 2);
            request.calibrationTablePath = cfg.value_or(std::string());
            std::vector<std::string> status;
            StatusSink sink;
            sink.status = [&](const std::string& text) { status.push_back(text); };
            ConversionResult result;
            {
                py::gil_scoped_release released;
                result = ConvertRecording(request, sink);
            }
            py::dict conversion;
            conversion["exit_code"] = result.exitCode;
            py::list statusLines, files;
            for (const std::string& line : status) statusLines.append(Text(line));
            for (const std::string& file : result.loop.scanFiles) files.append(Text(file));
            conversion["status"] = statusLines;
            conversion["scan_index"] =
                result.loop.scanIndexPath.empty() ? py::object(py::none()) : py::object(Text(result.loop.scanIndexPath));
            conversion["scan_files"] = files;
            conversion["all_written"] = result.loop.allWritten;
            conversion["warnings"] = WarningsOf(result.loop.warnings);
            conversion["output_folder"] = Text(result.outputFolder);
            return conversion;
        },
        py::arg("header"), py::arg("output"), py::arg("cfg") = py::none(), py::arg("back") = false,
        "Converts a recording as vm-fits HEADER OUTPUT [BACK] does, remembering no folders.");
}

// The handle of a recording given to the other bindings (None: none).
const ScanRecording* RecordingOf(const py::object& handle) {
    if (handle.is_none()) return nullptr;
    return &handle.cast<const RecordingHandle&>().recording;
}
