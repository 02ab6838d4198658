#include "scan/fits_export.h"

#include <fitsio.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <map>

#include "scan/scan_file_commands.h"
#include "platform/paths.h"

#ifndef VMSCAN_VERSION
#define VMSCAN_VERSION "unknown"
#endif

namespace {

constexpr long long kMillisecondsPerDay = 86400000LL;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
long long DaysFromCivil(long long year, long long month, long long day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(long long days, long long& year, long long& month, long long& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

int DaysInMonth(long long year, long long month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// ISO 8601 text of milliseconds since 1970; false outside the years 1 to 9999.
bool IsoFromMilliseconds(long long milliseconds, bool withFraction, std::string& iso) {
    long long days = milliseconds / kMillisecondsPerDay;
    long long rest = milliseconds % kMillisecondsPerDay;
    if (rest < 0) {
        rest += kMillisecondsPerDay;
        --days;
    }
    long long year = 0, month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    if (year < 1 || year > 9999) return false;
    char text[128];
    const long long seconds = rest / 1000;
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld", year, month, day,
                  seconds / 3600, seconds / 60 % 60, seconds % 60);
    iso = text;
    if (withFraction) {
        std::snprintf(text, sizeof text, ".%03lld", rest % 1000);
        iso += text;
    }
    return true;
}

// FITS header texts are printable ASCII; other bytes become "?".
std::string HeaderText(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u > 126) c = '?';
    }
    return out;
}

// The keyword writes of one HDU; CFITSIO skips every call once status is set.
struct Header {
    fitsfile* file;
    int& status;

    void Text(const char* keyword, const std::string& value, const char* comment) {
        const std::string text = HeaderText(value);
        // Quotes count twice; longer texts continue on CONTINUE cards.
        std::size_t length = text.size();
        for (char c : text) length += c == '\'' ? 1 : 0;
        if (length > 68) {
            fits_write_key_longwarn(file, &status);
            fits_write_key_longstr(file, keyword, text.c_str(), comment, &status);
        } else {
            fits_write_key_str(file, keyword, text.c_str(), comment, &status);
        }
    }
    // A header value cannot be a NaN or an infinity: such a value is named in
    // a COMMENT card instead of its own.
    void Real(const char* keyword, double value, const char* comment) {
        if (std::isfinite(value)) {
            fits_write_key_dbl(file, keyword, value, -15, comment, &status);
            return;
        }
        const std::string text = std::string(keyword) + " (" + comment + ") is " +
                                 (std::isnan(value) ? "not a number" : value > 0 ? "+infinity" : "-infinity") +
                                 " in the scan file";
        fits_write_comment(file, text.c_str(), &status);
    }
    void Whole(const char* keyword, long value, const char* comment) {
        fits_write_key_lng(file, keyword, value, comment, &status);
    }
};

const char* const kRecordingNotChecked =
    "the recording was not checked (no --recording): warnings unknown";

std::string FitsError(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return text;
}

// DATASUM and CHECKSUM of the HDU, computed from the written bytes, with fixed
// comments (CFITSIO's own routine puts the current time into the comment).
void WriteChecksums(fitsfile* file, int& status) {
    unsigned long dataSum = 0, hduSum = 0;
    fits_get_chksum(file, &dataSum, &hduSum, &status);
    char text[32];
    std::snprintf(text, sizeof text, "%lu", dataSum);
    fits_update_key_str(file, "DATASUM", text, "checksum of the data unit", &status);
    fits_get_chksum(file, &dataSum, &hduSum, &status);
    char encoded[17] = {};
    fits_encode_chksum(hduSum, 1, encoded);
    fits_update_key_str(file, "CHECKSUM", encoded, "checksum of the HDU", &status);
}

}  // namespace

namespace {

// Milliseconds since 1970 of the scan's DATE-OBS and TIME-OBS; false when
// they are not a calendar date and time.
bool ObservationMilliseconds(const ScanFileContents& scan, long long& milliseconds) {
    const long long year = scan.year, month = scan.month, day = scan.day;
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || scan.hour < 0 || scan.hour > 23 || scan.minute < 0 ||
        scan.minute > 59 || !(scan.second >= 0.0 && scan.second < 61.0))
        return false;
    milliseconds = DaysFromCivil(year, month, day) * kMillisecondsPerDay + scan.hour * 3600000LL +
                   scan.minute * 60000LL + std::llround(scan.second * 1000.0);
    return true;
}

}  // namespace

bool ObservationInstant(const ScanFileContents& scan, std::string& iso) {
    long long milliseconds = 0;
    return ObservationMilliseconds(scan, milliseconds) && IsoFromMilliseconds(milliseconds, true, iso);
}

bool EpochInstant(const std::string& seconds, std::string& iso) {
    if (seconds.empty() || seconds.size() > 12 ||
        seconds.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return IsoFromMilliseconds(std::stoll(seconds) * 1000, false, iso);
}

std::string CurrentInstant() {
    std::string iso;
    IsoFromMilliseconds(static_cast<long long>(std::time(nullptr)) * 1000, false, iso);
    return iso;
}

bool OffsetAxisIsDegenerate(const ScanFileContents& scan) {
    return !std::isfinite(scan.cdelt1) || !std::isfinite(scan.pmcsun) ||
           StepIsDegenerate(static_cast<float>(scan.cdelt1));
}

FitsPlanes RecordedPlanes(const ScanFileContents& scan) {
    FitsPlanes planes;
    // POLARIZ 1 is R, 0 is L; axis 2 holds RR first, then LL.
    const std::size_t rr = scan.blocks[0].polariz == 1 ? 0 : 1;
    planes.planes = {{-1, "RR: the al block (POLARIZ 1, FLAG_IV 1)", {}}, {-2, "then LL: the ar block (POLARIZ 0)", {}}};
    for (std::size_t p = 0; p < 2; ++p) {
        const ScanBlock& block = scan.blocks[p == 0 ? rr : 1 - rr];
        for (const int16_t v : block.values) planes.planes[p].values.push_back(PhysicalValue(block, v));
    }
    planes.unit = "adu";
    planes.unitComment = "recorder units: v * BSCALE + BZERO of the scan file";
    planes.history = {"points in the scan file's order; values v * BSCALE + BZERO"};
    return planes;
}

namespace {

// What a scan file must hold to be exported; false with the reason.
bool CheckExportable(const ScanFileContents& scan, const FitsPlanes& planes, const std::string& where,
                     std::string& error) {
    std::string observed;
    if (!ObservationInstant(scan, observed)) {
        error = where + "DATE-OBS '" + HeaderText(scan.dateObs) + "' and TIME-OBS '" +
                HeaderText(scan.timeObs) + "' are not a calendar date and time";
        return false;
    }
    if (scan.flagIv != 1) {
        error = where + "FLAG_IV is " + std::to_string(scan.flagIv) +
                "; only R and L polarisations (FLAG_IV 1) are exported";
        return false;
    }
    // POLARIZ 1 is R, 0 is L; axis 2 holds RR first, then LL.
    if (!((scan.blocks[0].polariz == 1 && scan.blocks[1].polariz == 0) ||
          (scan.blocks[0].polariz == 0 && scan.blocks[1].polariz == 1))) {
        error = where + "POLARIZ is " + std::to_string(scan.blocks[0].polariz) + " and " +
                std::to_string(scan.blocks[1].polariz) + "; one block must be R (1), the other L (0)";
        return false;
    }
    if (!std::isfinite(scan.obsFreq)) {
        error = where + "OBS-FREQ must be a finite number for the frequency axis";
        return false;
    }
    const auto n = static_cast<std::size_t>(scan.naxis1);
    bool planesFit = planes.planes.size() == 1 || planes.planes.size() == 2;
    for (const FitsPlane& plane : planes.planes) planesFit = planesFit && plane.values.size() == n;
    if (!planesFit) {
        error = where + "the FITS image wants 1 or 2 planes of " + std::to_string(n) + " values";
        return false;
    }
    return true;
}

// The block of the R polarisation (POLARIZ 1): 0 or 1.
std::size_t RightBlock(const ScanFileContents& scan) { return scan.blocks[0].polariz == 1 ? 0 : 1; }

// The three axes: offset (unless degenerate), STOKES (the planes'), frequency.
void WriteAxes(Header& h, const ScanFileContents& scan, const FitsPlanes& planes) {
    if (!OffsetAxisIsDegenerate(scan)) {
        h.Text("CTYPE1", "OFFSET", "offset from the post-meridian centre");
        h.Text("CUNIT1", "arcsec", "");
        h.Real("CRPIX1", scan.pmcsun, "place of the post-meridian centre (PMCSUN)");
        h.Real("CRVAL1", 0.0, "offset at the post-meridian centre");
        h.Real("CDELT1", scan.cdelt1, "arc seconds between two points");
    } else {
        // No offset: axis 1 counts the places of the points, 1 to n.
        h.Text("CTYPE1", "PLACE", "place of the point in the scan file (no offset axis)");
        h.Real("CRPIX1", 1.0, "");
        h.Real("CRVAL1", 1.0, "the first point");
        h.Real("CDELT1", 1.0, "one place");
    }
    h.Text("CTYPE2", "STOKES", "polarisation");
    h.Real("CRPIX2", 1.0, "");
    const FitsPlane& first = planes.planes.front();
    const bool two = planes.planes.size() == 2;
    h.Real("CRVAL2", first.stokes, first.comment.c_str());
    h.Real("CDELT2", two ? planes.planes[1].stokes - first.stokes : 1.0, two ? planes.planes[1].comment.c_str() : "");
    h.Text("CTYPE3", "FREQ", "observing frequency");
    h.Text("CUNIT3", "Hz", "");
    h.Real("CRPIX3", 1.0, "");
    h.Real("CRVAL3", scan.obsFreq * 1e9, "OBS-FREQ in Hz");
}

// The scan file's own values, the dates and where the file came from.
void WriteScanCards(Header& h, const ScanFileContents& scan, const FitsPlanes& planes,
                    const std::string& sourceName, const std::string& date) {
    std::string observed;
    ObservationInstant(scan, observed);
    if (!planes.unit.empty()) h.Text("BUNIT", planes.unit, planes.unitComment.c_str());
    h.Text("DATE-OBS", observed, "start of the observation (UTC)");
    h.Text("TIMESYS", "UTC", "time scale of DATE-OBS");
    long long milliseconds = 0;
    ObservationMilliseconds(scan, milliseconds);
    const long long mjdZero = DaysFromCivil(1858, 11, 17) * kMillisecondsPerDay;
    h.Real("MJD-OBS", static_cast<double>(milliseconds - mjdZero) / static_cast<double>(kMillisecondsPerDay),
           "DATE-OBS as a modified Julian date");
    if (!date.empty()) h.Text("DATE", date, "when this file was written (UTC)");
    h.Text("TELESCOP", scan.telescope, "telescope");
    h.Text("ORIGIN", scan.origin, "origin of the observation");
    h.Text("OBJECT", scan.object, "observed object");
    h.Real("AZIMUTH", scan.azimuth, "azimuth of the observation [deg]");
    h.Real("ALTITUDE", scan.altitude, "altitude of the source [deg]");
    h.Real("ANGLE", scan.angle, "angle P [deg]");
    h.Whole("RADIUS", scan.radius, "optical solar radius [arcsec]");
    h.Real("PMCSUN", scan.pmcsun, "post-meridian centre: place of the solar centre");
    h.Whole("CALIBR", scan.calibr, "flag of calibration (0 no, 1 yes)");
    h.Real("TCALIBR", scan.tcalibr, "temperature of the calibration step [K]");
    h.Real("FLUX_L", scan.fluxL, "factor from Ta [K] to flux [s.f.u.]");
    h.Whole("TQSUN", scan.tqsun, "antenna temperature of the quiet Sun [K]");
    h.Real("THETA_DG", scan.thetaDg, "dimension of the antenna beam [arcsec]");
    h.Real("OBSFREQ", scan.obsFreq, "observing frequency [GHz]");
    const ScanBlock& right = scan.blocks[RightBlock(scan)];
    const ScanBlock& left = scan.blocks[1 - RightBlock(scan)];
    h.Real("RRSCALE", right.bscale, "BSCALE of the RR block in the scan file");
    h.Real("RRZERO", right.bzero, "BZERO of the RR block in the scan file");
    h.Real("LLSCALE", left.bscale, "BSCALE of the LL block in the scan file");
    h.Real("LLZERO", left.bzero, "BZERO of the LL block in the scan file");
    for (const FitsPlanes::Card& card : planes.cards) h.Real(card.keyword.c_str(), card.value, card.comment.c_str());
    const std::string history = "vm-scan " VMSCAN_VERSION " from the scan file " + HeaderText(FileNameOfPath(sourceName));
    fits_write_history(h.file, history.c_str(), &h.status);
    for (const std::string& line : planes.history) fits_write_history(h.file, HeaderText(line).c_str(), &h.status);
}

// The warnings: QWARNn = 'id' with the message in COMMENT cards; a degenerate
// offset axis is one of them whether or not the recording is known. NQWARN
// counts the warnings only when the recording was checked; without it a
// COMMENT says that it was not, as no count of its warnings can be given.
void WriteWarnings(Header& h, const ScanFileContents& scan, const ScanFileQuality* quality,
                   bool recordingChecked) {
    std::vector<RunWarning> warnings;
    if (quality) warnings = quality->warnings;
    const bool named = std::any_of(warnings.begin(), warnings.end(),
                                   [](const RunWarning& w) { return w.id == WarningId::PointingDegenerate; });
    if (OffsetAxisIsDegenerate(scan) && !named) {
        char text[160];
        std::snprintf(text, sizeof text, "CDELT1 %.4f and PMCSUN %.4f of the scan file give no offset axis",
                      scan.cdelt1, scan.pmcsun);
        warnings.push_back(RunWarning{WarningId::PointingDegenerate, kWholeRecording, text});
    }
    if (quality || recordingChecked)
        h.Whole("NQWARN", static_cast<long>(warnings.size()), "warnings about the recording");
    else
        fits_write_comment(h.file, kRecordingNotChecked, &h.status);
    for (std::size_t i = 0; i < warnings.size() && i < 999; ++i) {
        const std::string keyword = "QWARN" + std::to_string(i + 1);
        h.Text(keyword.c_str(), WarningName(warnings[i].id), "warning, explained in the COMMENT below");
        const std::string comment = keyword + " " + WarningLine(warnings[i]);
        fits_write_comment(h.file, HeaderText(comment).c_str(), &h.status);
    }
    if (OffsetAxisIsDegenerate(scan))
        fits_write_comment(h.file, "axis 1 is the place of each point (1 to n), not an offset", &h.status);
}

// The image extension QUALITY: the flags of every point, in the data's shape.
void WriteQuality(fitsfile* file, const ScanFileContents& scan, const ScanFileQuality& quality, int& status) {
    const long n = static_cast<long>(scan.naxis1);
    long axes[3] = {n, 2, 1};
    fits_create_img(file, BYTE_IMG, 3, axes, &status);
    Header h{file, status};
    h.Text("EXTNAME", "QUALITY", "flags of the points of the primary image");
    for (int bit = 0; bit < kQualityFlagCount; ++bit) {
        const std::string keyword = "QFLAG" + std::to_string(kQualityFlagNames[bit].flag);
        h.Text(keyword.c_str(), kQualityFlagNames[bit].name, "meaning of this bit value");
    }
    h.Text("DATASUM", "0", "checksum of the data unit");
    h.Text("CHECKSUM", "0000000000000000", "checksum of the HDU");
    std::vector<unsigned char> flags(2 * static_cast<std::size_t>(n), 0);
    // Axis 2 holds RR (the R block) first, then LL.
    const std::size_t rr = RightBlock(scan);
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        flags[i] = quality.flags[rr].at(i);
        flags[static_cast<std::size_t>(n) + i] = quality.flags[1 - rr].at(i);
    }
    if (n > 0) fits_write_img(file, TBYTE, 1, static_cast<LONGLONG>(flags.size()), flags.data(), &status);
    WriteChecksums(file, status);
}

}  // namespace

bool WriteScanFits(const ScanFileContents& scan, const FitsPlanes& planes, const std::string& sourceName,
                   const std::string& fitsPath, const std::string& date, const ScanFileQuality* quality,
                   bool recordingChecked, std::string& error) {
    if (!CheckExportable(scan, planes, sourceName + ": ", error)) return false;

    const std::string temporary = fitsPath + ".part";
    std::remove(temporary.c_str());
    fitsfile* file = nullptr;
    int status = 0;
    fits_create_diskfile(&file, temporary.c_str(), &status);
    if (status != 0) {
        error = "Can't create " + temporary + ": " + FitsError(status);
        return false;
    }
    const long n = static_cast<long>(scan.naxis1);
    long axes[3] = {n, static_cast<long>(planes.planes.size()), 1};
    fits_create_img(file, FLOAT_IMG, 3, axes, &status);
    Header h{file, status};
    WriteAxes(h, scan, planes);
    WriteScanCards(h, scan, planes, sourceName, date);
    WriteWarnings(h, scan, quality, recordingChecked);
    h.Text("DATASUM", "0", "checksum of the data unit");
    h.Text("CHECKSUM", "0000000000000000", "checksum of the HDU");

    std::vector<float> data;
    for (const FitsPlane& plane : planes.planes) data.insert(data.end(), plane.values.begin(), plane.values.end());
    if (n > 0) fits_write_img(file, TFLOAT, 1, static_cast<LONGLONG>(data.size()), data.data(), &status);
    WriteChecksums(file, status);
    if (quality) WriteQuality(file, scan, *quality, status);

    int closeStatus = 0;
    fits_close_file(file, &closeStatus);
    if (status == 0) status = closeStatus;
    if (status == 0 && std::rename(temporary.c_str(), fitsPath.c_str()) != 0) {
        std::remove(temporary.c_str());
        error = "Can't write " + fitsPath;
        return false;
    }
    if (status != 0) {
        std::remove(temporary.c_str());
        error = "Can't write " + fitsPath + ": " + FitsError(status);
        return false;
    }
    return true;
}

bool WriteRecordedFits(const std::string& path, const ScanFileContents& scan, const RecordingExplanation* recording,
                       const std::string& fitsPath, const std::string& date, std::string& error) {
    ScanFileQuality quality;
    if (recording && !QualityOfScanFile(*recording, FileNameOfPath(path), scan, quality, error)) return false;
    return WriteScanFits(scan, RecordedPlanes(scan), path, fitsPath, date, recording ? &quality : nullptr,
                         recording != nullptr, error);
}

int FitsCommand(const FitsOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<std::string> paths = options.scanFiles;
    if (!options.indexPath.empty()) {
        std::vector<ScanIndexEntry> entries;
        std::string error;
        if (!ReadScanIndex(options.indexPath, entries, error)) {
            err << error << "\n";
            return 1;
        }
        for (const std::string& path : ScanFilePathsOfIndex(options.indexPath, entries))
            paths.push_back(path);
        if (entries.empty()) out << options.indexPath << " lists no scan files\n";
    }
    std::string date = CurrentInstant();
    if (options.sourceDateEpochSet && !EpochInstant(options.sourceDateEpoch, date)) {
        err << "SOURCE_DATE_EPOCH '" << options.sourceDateEpoch
            << "' is not a whole number of seconds up to the year 9999\n";
        return 1;
    }
    RecordingExplanation recording;
    if (!options.recording.headerPath.empty()) {
        std::string error;
        if (!PlanRecordingOfScanFiles(options.recording.headerPath, options.recording.thirdArgument,
                                      options.recording.tablePath, recording,
                                      error)) {
            err << error << "\n";
            return 2;
        }
    }
    std::error_code ignored;
    std::filesystem::create_directories(options.outputFolder, ignored);
    if (!std::filesystem::is_directory(options.outputFolder, ignored)) {
        err << "Can't create " << options.outputFolder
            << (ignored ? ": " + ignored.message() : std::string(": a file of that name is in the way")) << "\n";
        return 1;
    }

    bool allWritten = true;
    std::map<std::string, std::string> written;  // FITS name -> scan file it came from
    for (const std::string& path : paths) {
        ScanFileContents scan;
        std::string error;
        const std::string name = FileNameOfPath(path) + ".fits";
        const std::string fitsPath = options.outputFolder + "/" + name;
        if (!ReadScanFile(path, scan, error)) {
            // reported below
        } else if (written.count(name)) {
            error = path + ": " + fitsPath + " was already written from " + written[name];
        }
        const RecordingExplanation* known = options.recording.headerPath.empty() ? nullptr : &recording;
        if (error.empty() && WriteRecordedFits(path, scan, known, fitsPath, date, error)) {
            written[name] = path;
            out << "wrote " << fitsPath << "\n";
            if (OffsetAxisIsDegenerate(scan))
                err << path << ": warning: CDELT1 and PMCSUN give no offset axis; " << fitsPath
                    << " numbers the points only\n";
            continue;
        }
        err << error << "\n";
        allWritten = false;
    }
    return allWritten ? 0 : 1;
}
