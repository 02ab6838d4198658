#include "scan/fits_export.h"

#include <fitsio.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "scan/scan_file_commands.h"

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

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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

FitsPlanes RecordedPlanes(const ScanFileContents& scan) {
    FitsPlanes planes;
    // POLARIZ 1 is R, 0 is L; axis 2 holds RR first, then LL.
    const std::size_t rr = scan.blocks[0].polariz == 1 ? 0 : 1;
    planes.planes = {{-1, "RR: the al block (POLARIZ 1, FLAG_IV 1)", {}}, {-2, "then LL: the ar block (POLARIZ 0)", {}}};
    for (std::size_t p = 0; p < 2; ++p) {
        const ScanBlock& block = scan.blocks[p == 0 ? rr : 1 - rr];
        for (const int16_t v : block.values) planes.planes[p].values.push_back(PhysicalValue(block, v));
    }
    planes.history = {"points in the scan file's order; values v * BSCALE + BZERO"};
    return planes;
}

bool WriteScanFits(const ScanFileContents& scan, const std::string& sourceName,
                   const std::string& fitsPath, const std::string& date, std::string& error) {
    return WriteScanFits(scan, RecordedPlanes(scan), sourceName, fitsPath, date, error);
}

bool WriteScanFits(const ScanFileContents& scan, const FitsPlanes& planes, const std::string& sourceName,
                   const std::string& fitsPath, const std::string& date, std::string& error) {
    const std::string where = sourceName + ": ";
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
    const int rr = scan.blocks[0].polariz == 1 ? 0 : scan.blocks[1].polariz == 1 ? 1 : -1;
    if (rr < 0 || scan.blocks[static_cast<std::size_t>(1 - rr)].polariz != 0) {
        error = where + "POLARIZ is " + std::to_string(scan.blocks[0].polariz) + " and " +
                std::to_string(scan.blocks[1].polariz) + "; one block must be R (1), the other L (0)";
        return false;
    }
    const ScanBlock& right = scan.blocks[static_cast<std::size_t>(rr)];
    const ScanBlock& left = scan.blocks[static_cast<std::size_t>(1 - rr)];
    if (!std::isfinite(scan.cdelt1) || !std::isfinite(scan.pmcsun) || !std::isfinite(scan.obsFreq)) {
        error = where + "CDELT1, PMCSUN and OBS-FREQ must be finite numbers for the axes";
        return false;
    }

    const auto n = static_cast<std::size_t>(scan.naxis1);
    const std::size_t planeCount = planes.planes.size();
    bool planesFit = planeCount == 1 || planeCount == 2;
    for (const FitsPlane& plane : planes.planes) planesFit = planesFit && plane.values.size() == n;
    if (!planesFit) {
        error = where + "the FITS image wants 1 or 2 planes of " + std::to_string(n) + " values";
        return false;
    }

    const std::string temporary = fitsPath + ".part";
    std::remove(temporary.c_str());
    fitsfile* file = nullptr;
    int status = 0;
    fits_create_diskfile(&file, temporary.c_str(), &status);
    if (status != 0) {
        error = "Can't create " + temporary + ": " + FitsError(status);
        return false;
    }
    long axes[3] = {static_cast<long>(n), static_cast<long>(planeCount), 1};
    fits_create_img(file, FLOAT_IMG, 3, axes, &status);

    Header h{file, status};
    h.Text("CTYPE1", "OFFSET", "offset from the post-meridian centre");
    h.Text("CUNIT1", "arcsec", "");
    h.Real("CRPIX1", scan.pmcsun, "place of the post-meridian centre (PMCSUN)");
    h.Real("CRVAL1", 0.0, "offset at the post-meridian centre");
    h.Real("CDELT1", scan.cdelt1, "arc seconds between two points");
    h.Text("CTYPE2", "STOKES", "polarisation");
    h.Real("CRPIX2", 1.0, "");
    const FitsPlane& first = planes.planes.front();
    h.Real("CRVAL2", first.stokes, first.comment.c_str());
    h.Real("CDELT2", planeCount == 2 ? planes.planes[1].stokes - first.stokes : 1.0,
           planeCount == 2 ? planes.planes[1].comment.c_str() : "");
    h.Text("CTYPE3", "FREQ", "observing frequency");
    h.Text("CUNIT3", "Hz", "");
    h.Real("CRPIX3", 1.0, "");
    h.Real("CRVAL3", scan.obsFreq * 1e9, "OBS-FREQ in Hz");
    h.Text("DATE-OBS", observed, "start of the observation (UTC)");
    h.Text("TIMESYS", "UTC", "time scale of DATE-OBS");
    long long milliseconds = 0;
    ObservationMilliseconds(scan, milliseconds);
    const long long mjdZero = DaysFromCivil(1858, 11, 17) * kMillisecondsPerDay;
    h.Real("MJD-OBS", static_cast<double>(milliseconds - mjdZero) / static_cast<double>(kMillisecondsPerDay),
           "DATE-OBS as a modified Julian date");
    h.Text("DATE", date, "observation date, or SOURCE_DATE_EPOCH");
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
    h.Real("RRSCALE", right.bscale, "BSCALE of the RR block in the scan file");
    h.Real("RRZERO", right.bzero, "BZERO of the RR block in the scan file");
    h.Real("LLSCALE", left.bscale, "BSCALE of the LL block in the scan file");
    h.Real("LLZERO", left.bzero, "BZERO of the LL block in the scan file");
    for (const FitsPlanes::Card& card : planes.cards) h.Real(card.keyword.c_str(), card.value, card.comment.c_str());
    if (!planes.unit.empty()) h.Text("BUNIT", planes.unit, planes.unitComment.c_str());
    const std::string history = "vm-scan " VMSCAN_VERSION " from the scan file " + HeaderText(FileNameOf(sourceName));
    fits_write_history(file, history.c_str(), &status);
    for (const std::string& line : planes.history) fits_write_history(file, HeaderText(line).c_str(), &status);
    h.Text("DATASUM", "0", "checksum of the data unit");
    h.Text("CHECKSUM", "0000000000000000", "checksum of the HDU");

    std::vector<float> data;
    for (const FitsPlane& plane : planes.planes) data.insert(data.end(), plane.values.begin(), plane.values.end());
    if (n > 0) fits_write_img(file, TFLOAT, 1, static_cast<LONGLONG>(data.size()), data.data(), &status);
    WriteChecksums(file, status);

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
    std::string epochDate;
    if (options.sourceDateEpochSet && !EpochInstant(options.sourceDateEpoch, epochDate)) {
        err << "SOURCE_DATE_EPOCH '" << options.sourceDateEpoch
            << "' is not a whole number of seconds up to the year 9999\n";
        return 1;
    }
    std::error_code ignored;
    std::filesystem::create_directories(options.outputFolder, ignored);
    if (!std::filesystem::is_directory(options.outputFolder, ignored)) {
        err << "Can't create " << options.outputFolder << "\n";
        return 1;
    }

    bool allWritten = true;
    std::map<std::string, std::string> written;  // FITS name -> scan file it came from
    for (const std::string& path : paths) {
        ScanFileContents scan;
        std::string error;
        const std::string name = FileNameOf(path) + ".fits";
        const std::string fitsPath = options.outputFolder + "/" + name;
        std::string date = epochDate;
        if (!ReadScanFile(path, scan, error)) {
            // reported below
        } else if (written.count(name)) {
            error = path + ": " + fitsPath + " was already written from " + written[name];
        } else if (date.empty() && !ObservationInstant(scan, date)) {
            date.clear();  // WriteScanFits names the problem
        }
        if (error.empty() && WriteScanFits(scan, path, fitsPath, date, error)) {
            written[name] = path;
            out << "wrote " << fitsPath << "\n";
            continue;
        }
        err << error << "\n";
        allWritten = false;
    }
    return allWritten ? 0 : 1;
}
