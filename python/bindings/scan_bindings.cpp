// Scan files and scan indexes read back, and a scan file written as FITS as
// vm-scan fits writes it.
#include <atomic>
#include <cstdlib>
#include <thread>

#include "calibrate/calibration.h"
#include "output/scan_cards.h"
#include "output/scan_reader.h"
#include "python/bindings/python_values.h"
#include "scan/calibrated_run.h"
#include "scan/fits_export.h"
#include "scan/scan_file_commands.h"

namespace {

struct ScanHandle {
    std::string path;
    ScanFileContents scan;
};

// The kind the card table gives a card of `group`; Text for one it does not list.
ScanCardKind KindOf(int group, const std::string& keyword) {
    for (const ScanCardLayout& layout : ScanCardTable())
        if (layout.group == group && keyword == layout.keyword) return layout.kind;
    return ScanCardKind::Text;
}

// A card's value as Python, by the kind the card table gives it: a whole
// number as int, a real one as float, anything else as its text.
py::object ValueOf(int group, const ScanCard& card) {
    if (!card.hasValue) return py::none();
    const ScanCardKind kind = KindOf(group, card.keyword);
    long long whole = 0;
    if (kind == ScanCardKind::Whole && WholeNumber(card.value, whole)) return py::int_(whole);
    if (kind == ScanCardKind::Real) {
        char* end = nullptr;
        const double real = std::strtod(card.value.c_str(), &end);
        if (end != card.value.c_str() && *end == '\0') return py::float_(real);
    }
    return Text(card.value);
}

py::array_t<float> PhysicalValues(const ScanBlock& block) {
    py::array_t<float> values(static_cast<py::ssize_t>(block.values.size()));
    float* out = values.mutable_data();
    for (const int16_t v : block.values) *out++ = PhysicalValue(block, v);
    return values;
}

ScanHandle ReadScan(const std::string& path) {
    ScanHandle handle;
    handle.path = path;
    std::string error;
    bool read = false;
    {
        py::gil_scoped_release released;
        read = ReadScanFile(path, handle.scan, error);
    }
    if (!read) RaiseAbout(path, error, PyExc_ValueError);
    return handle;
}

// The DATE card's value: now, or SOURCE_DATE_EPOCH's instant as vm-scan takes it.
std::string FitsDate() {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch) return CurrentInstant();
    std::string date;
    if (!EpochInstant(epoch, date))
        Raise(PyExc_ValueError,
              std::string("SOURCE_DATE_EPOCH '") + epoch + "' is not a whole number of seconds up to the year 9999");
    return date;
}

}  // namespace

const ScanFileContents& ScanOf(const py::object& handle) { return handle.cast<const ScanHandle&>().scan; }
std::string ScanPathOf(const py::object& handle) { return handle.cast<const ScanHandle&>().path; }

void AddScanBindings(py::module_& m) {
    py::list table;
    for (const ScanCardLayout& layout : ScanCardTable())
        table.append(py::make_tuple(layout.group, layout.keyword, ScanCardKindName(layout.kind), layout.format, layout.comment));
    m.attr("scan_card_table") = table;

    py::class_<ScanHandle, std::shared_ptr<ScanHandle>>(m, "ScanHandle")
        .def_property_readonly("path", [](const ScanHandle& h) { return Text(h.path); })
        .def("cards",
             [](const ScanHandle& h) {
                 py::list cards;
                 for (int g = 0; g < kScanGroupCount; ++g)
                     for (const ScanCard& card : h.scan.groups[static_cast<std::size_t>(g)])
                         cards.append(py::make_tuple(g, Text(card.keyword), ValueOf(g, card), Text(card.comment),
                                                     Text(card.text)));
                 return cards;
             })
        .def("blocks",
             [](const ScanHandle& h) {
                 py::list blocks;
                 for (const ScanBlock& b : h.scan.blocks)
                     blocks.append(py::make_tuple(b.polariz, b.bscale, b.bzero, PhysicalValues(b)));
                 return blocks;
             })
        .def("rr_block", [](const ScanHandle& h) { return RrBlock(h.scan); })
        .def("offsets",
             [](const ScanHandle& h) {
                 const auto n = static_cast<int64_t>(h.scan.blocks[0].values.size());
                 py::array_t<double> offsets(static_cast<py::ssize_t>(n));
                 double* out = offsets.mutable_data();
                 for (int64_t place = 1; place <= n; ++place) *out++ = PlaceOffset(h.scan, place);
                 return offsets;
             })
        .def_property_readonly("frequency", [](const ScanHandle& h) { return h.scan.obsFreq; });

    m.def(
        "read_scan", [](const std::string& path) { return std::make_shared<ScanHandle>(ReadScan(path)); },
        py::arg("path"), "Reads a scan file; raises FileNotFoundError or ValueError naming the file and the fault.");

    m.def(
        "read_scans",
        [](const std::vector<std::string>& paths) {
            // Read and parsed on every processor; the first file that cannot
            // be read, in the given order, raises.
            std::vector<ScanHandle> handles(paths.size());
            std::vector<std::string> errors(paths.size());
            std::vector<char> read(paths.size(), 0);
            {
                py::gil_scoped_release released;
                std::atomic<std::size_t> next{0};
                const auto work = [&]() {
                    for (std::size_t i = next++; i < paths.size(); i = next++) {
                        handles[i].path = paths[i];
                        read[i] = ReadScanFile(paths[i], handles[i].scan, errors[i]);
                    }
                };
                std::vector<std::thread> workers;
                for (unsigned w = 1; w < CalibrationWorkers(0, paths.size()); ++w) workers.emplace_back(work);
                work();
                for (std::thread& worker : workers) worker.join();
            }
            py::list scans;
            for (std::size_t i = 0; i < paths.size(); ++i) {
                if (!read[i]) RaiseAbout(paths[i], errors[i], PyExc_ValueError);
                scans.append(std::make_shared<ScanHandle>(std::move(handles[i])));
            }
            return scans;
        },
        py::arg("paths"), "Reads several scan files at once; raises for the first that cannot be read.");

    m.def(
        "read_index",
        [](const std::string& path) {
            std::vector<ScanIndexEntry> entries;
            std::string error;
            if (!ReadScanIndex(path, entries, error)) RaiseAbout(path, error, PyExc_ValueError);
            py::list listed;
            const std::vector<std::string> paths = ScanFilePathsOfIndex(path, entries);
            for (std::size_t i = 0; i < entries.size(); ++i)
                listed.append(py::make_tuple(Text(paths[i]), entries[i].frequency));
            return listed;
        },
        py::arg("path"), "The scan files an index lists, in order: (path, frequency in GHz).");

    m.def(
        "write_fits",
        [](const py::object& scan, const std::string& fitsPath, const py::object& recording) {
            const ScanRecording* planned = RecordingOf(recording);
            const std::string date = FitsDate();
            const std::string path = ScanPathOf(scan);
            const ScanFileContents& contents = ScanOf(scan);
            std::string error;
            bool written = false;
            {
                py::gil_scoped_release released;
                written = WriteRecordedFits(path, contents, planned ? &planned->explanation : nullptr, fitsPath,
                                            date, error);
            }
            if (!written) Raise(PyExc_OSError, error);
        },
        py::arg("scan"), py::arg("fits_path"), py::arg("recording") = py::none(),
        "Writes the scan file as FITS as vm-scan fits does (with a recording: its warnings and QUALITY image).");
}
