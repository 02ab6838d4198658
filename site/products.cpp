// A recording's quick-look products: its scan files calibrated once, then
// each picture and table drawn or written by the procedure vm-scan's
// subcommand calls, into a folder beside the products folder that is renamed
// into place at the end.
#include "site/products.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "batch/summary.h"
#include "calibrate/source_table.h"
#include "platform/paths.h"
#include "scan/calibrate_commands.h"
#include "scan/calibrated_pictures.h"
#include "scan/calibrated_run.h"
#include "scan/explain.h"
#include "scan/fits_export.h"
#include "scan/plot_commands.h"

namespace fs = std::filesystem;

namespace {

constexpr PictureSize kProductPictureSize{1000, 650};

// The products besides explain.json and notes.txt, as notes.txt names them.
const char* const kMadeFromScanFiles[] = {kProductOverview, kProductCalibratedI, kProductCalibratedV,
                                          kProductSpectrum, kProductWholeSun,    kProductSources,
                                          kProductWholeSunCsv, kProductFitsFolder};

// The folder being written and what is noted of it.
struct Writing {
    std::string folder;              // the temporary folder
    std::vector<std::string> notes;  // notes.txt, one line each
    std::string error;               // the first file that could not be written
};

std::string InFolder(const Writing& w, const std::string& name) { return w.folder + "/" + name; }

void Note(Writing& w, const std::string& name, const std::string& why) { w.notes.push_back(name + ": " + why); }

bool WriteText(Writing& w, const std::string& name, const std::string& text) {
    return w.error.empty() && WriteFileWhole(InFolder(w, name), text, w.error);
}

// Writes the picture, or notes why it was not drawn.
bool WriteDrawn(Writing& w, const std::string& name, bool drawn, const PlotPicture& picture,
                const std::string& why) {
    if (!w.error.empty()) return false;
    if (!drawn) {
        Note(w, name, "not drawn: " + why);
        return true;
    }
    return WritePicture(picture, kProductPictureSize, InFolder(w, name), w.error);
}

// "NAME: WHAT: REASON" for each scan file left out.
void NoteRefusals(Writing& w, const std::vector<RefusedScan>& refused, const std::string& what) {
    for (const RefusedScan& r : refused) Note(w, FileNameOfPath(r.name), what + ": " + r.reason);
}

// The products of a converted recording's scan files.
void WriteScanProducts(const CatalogInput& input, const ScanRecording& recording, const CalibratedRun& run,
                       const std::string& fitsDate, Writing& w) {
    NoteRefusals(w, run.refused, "not calibrated");
    NoteRefusals(w, run.noSources, "no sources");
    for (const ScanSources& s : run.found)
        for (const RejectedSource& r : s.rejected) Note(w, FileNameOfPath(s.name), "source left out: " + r.reason);
    NoteRefusals(w, run.noFlux, "no whole-Sun flux");

    // The scan files as recorded: the overview of RR and the FITS files.
    std::vector<NamedScan> read;
    std::string error;
    bool drawn = ReadNamedScans(input.scanFiles, read, error) && AddPictureQualities(recording.explanation, read, error);
    PlotPicture picture;
    drawn = drawn && OverviewPicture(read, OverviewPolarisation::RR, picture, error);
    WriteDrawn(w, kProductOverview, drawn, picture, error);

    drawn = CalibratedOverviewPicture(run.scans, run.refused, OverviewPolarisation::I, picture, error);
    WriteDrawn(w, kProductCalibratedI, drawn, picture, error);
    drawn = CalibratedOverviewPicture(run.scans, run.refused, OverviewPolarisation::V, picture, error);
    WriteDrawn(w, kProductCalibratedV, drawn, picture, error);

    std::vector<RefusedScan> leftOut = run.refused;
    leftOut.insert(leftOut.end(), run.noSources.begin(), run.noSources.end());
    drawn = SpectrumOfScans(run.scans, run.found, run.tracks, leftOut, picture, error);
    WriteDrawn(w, kProductSpectrum, drawn, picture, error);

    leftOut = run.refused;
    leftOut.insert(leftOut.end(), run.noFlux.begin(), run.noFlux.end());
    error = "no scan file could be calibrated";
    drawn = !run.scans.empty() && WholeSunPicture(run.fluxes, leftOut, run.scans[0].scan, picture, error);
    WriteDrawn(w, kProductWholeSun, drawn, picture, error);

    WriteText(w, kProductSources, SourcesCsv(run.found, run.tracks));
    WriteText(w, kProductWholeSunCsv, WholeSunCsv(run.fluxes));

    if (!w.error.empty()) return;
    const std::string fits = InFolder(w, kProductFitsFolder);
    std::error_code code;
    if (!fs::create_directory(fits, code)) {
        w.error = "Can't create " + fits + ": " + code.message();
        return;
    }
    const std::string date = fitsDate.empty() ? CurrentInstant() : fitsDate;
    for (const std::string& path : input.scanFiles) {
        const std::string name = FileNameOfPath(path) + ".fits";
        ScanFileContents scan;
        if (!ReadScanFile(path, scan, error) ||
            !WriteRecordedFits(path, scan, &recording.explanation, fits + "/" + name, date, error))
            Note(w, std::string(kProductFitsFolder) + "/" + name, "not written: " + error);
    }
}

// "FOLDER.tmp-": the start of the names of the folders written beside FOLDER.
std::string TemporaryPrefix(const std::string& folder) { return folder + ".tmp-"; }

// Removes what runs that were stopped left beside the folder.
void RemoveLeftovers(const std::string& folder) {
    const fs::path place(folder);
    const std::string prefix = place.filename().string() + ".tmp-";
    std::error_code code;
    const fs::path parent = place.has_parent_path() ? place.parent_path() : fs::path(".");
    for (fs::directory_iterator it(parent, code), end; !code && it != end; it.increment(code)) {
        if (it->path().filename().string().rfind(prefix, 0) != 0) continue;
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

// Puts the written folder in the place of the products folder.
bool MoveIntoPlace(const std::string& written, const std::string& folder, std::string& error) {
    const std::string aside = written + "-old";
    std::error_code code;
    const bool earlier = fs::exists(folder, code);
    if (earlier) {
        fs::rename(folder, aside, code);
        if (code) {
            error = "Can't move " + folder + " aside: " + code.message();
            return false;
        }
    }
    fs::rename(written, folder, code);
    if (code) {
        error = "Can't rename " + written + " to " + folder + ": " + code.message();
        std::error_code ignored;
        if (earlier) fs::rename(aside, folder, ignored);
        return false;
    }
    if (earlier) fs::remove_all(aside, code);
    return true;
}

}  // namespace

bool MakeRecordingProducts(const ProductsRequest& request, CatalogRecording& entry, std::string& error) {
    const CatalogInput& input = request.input;
    std::string folder = request.folder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    RemoveLeftovers(folder);

    Writing w;
    w.folder = TemporaryPrefix(folder) + std::to_string(static_cast<long>(getpid()));
    std::error_code code;
    fs::create_directories(w.folder, code);
    if (code) w.error = "Can't create " + w.folder + ": " + code.message();

    ScanRecording recording;
    std::string loadError;
    const bool loaded = LoadScanRecording(RecordingOptionsOf(input), recording, loadError);
    if (loaded) {
        std::ostringstream json;
        WriteExplanationJson(recording.explanation, json);
        WriteText(w, kProductExplain, json.str());
    } else {
        Note(w, kProductExplain, "not written: " + loadError);
    }

    std::string why;  // why nothing is made of the scan files
    if (!loaded)
        why = "the header cannot be read";
    else if (input.status == "failed")
        why = "the conversion failed" + (input.reason.empty() ? std::string() : ": " + input.reason);
    else if (input.scanFiles.empty())
        why = "the conversion wrote no scan file";
    if (!why.empty()) {
        entry = CatalogRecordingOfRun(input, loaded ? &recording : nullptr, loadError, nullptr);
        for (const char* name : kMadeFromScanFiles) Note(w, name, "not made: " + why);
    } else {
        std::ostringstream refusals;  // noted one by one below
        CalibratedRun run;
        CalibrateRun(input.scanFiles, recording, request.jobs, run, refusals);
        entry = CatalogRecordingOfRun(input, &recording, "", &run);
        if (w.error.empty()) WriteScanProducts(input, recording, run, request.fitsDate, w);
    }

    if (!w.notes.empty()) {
        std::string notes;
        for (const std::string& line : w.notes) notes += line + "\n";
        WriteText(w, kProductNotes, notes);
    }
    if (w.error.empty() && MoveIntoPlace(w.folder, folder, w.error)) return true;
    error = w.error;
    fs::remove_all(w.folder, code);
    return false;
}
