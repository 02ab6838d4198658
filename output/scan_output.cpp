#include "output/scan_output.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace {

// The formats are checked as the C library's (MinGW's own printf with
// __USE_MINGW_ANSI_STDIO); clang knows that family only as "printf".
#if defined(__clang__)
#define VMFITS_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define VMFITS_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#endif

// Appends the printf-style text to `out` (the "C" locale is never changed).
VMFITS_PRINTF_FORMAT(2, 3) void AppendFormat(std::string& out, const char* format,
                                                             ...) {
    char small[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof small) {
        out.append(small, static_cast<std::size_t>(length));
    } else if (length >= 0) {
        std::string large(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(&large[0], large.size(), format, again);
        out.append(large, 0, static_cast<std::size_t>(length));
    }
    va_end(again);
}

// The C libraries spell a NaN whose sign bit is set differently: glibc writes
// "-nan", the Windows library "nan". The cards spell it "-nan" on every
// platform. `start` is where the card holding `value` begins in `out`.
void SignNaN(std::string& out, std::size_t start, double value) {
    if (!(std::isnan(value) && std::signbit(value))) return;
    const std::size_t at = out.find("nan", start);
    if (at == std::string::npos || (at > start && out[at - 1] == '-')) return;
    if (at > start && out[at - 1] == ' ') {
        out[at - 1] = '-';
    } else {
        out.insert(at, 1, '-');
    }
}

// A card with one floating-point value.
void AppendRealCard(std::string& out, const char* format, double value) {
    const std::size_t start = out.size();
    AppendFormat(out, format, value);
    SignNaN(out, start, value);
}

// A data block: the values little-endian, low byte first, nothing between them.
void AppendBlock(std::string& out, const std::vector<int16_t>& values) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // A little-endian machine holds a 16-bit two's-complement integer low byte
    // first: the values' own bytes are the block, appended in one piece.
    if (!values.empty()) out.append(reinterpret_cast<const char*>(values.data()), 2 * values.size());
#else
    for (const int16_t v : values) {
        const auto bits = static_cast<uint16_t>(v);
        out += static_cast<char>(bits & 0xFF);
        out += static_cast<char>(bits >> 8);
    }
#endif
}

void AppendPolarisation(std::string& out, int polariz, const ScaledBlock& block) {
    AppendFormat(out, "POLARIZ = %14d\t/ IF 1 - (R or R+L), IF 0- (L or R_L)\r\n", polariz);
    AppendRealCard(out, "BSCALE  = %14e\t/ \r\n", static_cast<double>(block.bscale));
    AppendRealCard(out, "BZERO   = %14e\t/ \r\n", static_cast<double>(block.bzero));
    out += "END\r\n";
    AppendBlock(out, block.values);
    out += "\r\n";
}

}  // namespace

double PostMeridianCentre(int32_t sampleCount, float pmc) {
    // n + 1 is formed in double, where it is exact for every count.
    return (static_cast<double>(sampleCount) + 1.0) - static_cast<double>(pmc);
}

std::string ScanFileBytes(const ObservationHeader& header, const PointingValues& pointing,
                          int32_t calibrationFlag, const ScanChannel& channel) {
    const SetupBlock& setup = header.setup;
    const ReceiverBlock& receiver = header.receiver;
    const PointingBlock& at = header.pointing;
    const int32_t n = channel.sampleCount;
    std::string out;
    out.reserve(1500 + 4 * static_cast<std::size_t>(n > 0 ? n : 0));

    // Main header.
    AppendFormat(out, "SIMPLE  = %14c\t/ FILE DOES NOT CONFORM TO FITS STANDARD\r\n", 'F');
    AppendFormat(out, "BITPIX  = %14d\t/ INTEGER WITH '(I2)' FORMAT\r\n", 16);
    AppendFormat(out, "NAXIS   = %14d\t/ NUMBER OF DATA AXES\r\n", 1);
    AppendFormat(out, "NAXIS1  = %14d\t/ LENGTH OF DATA AXIS 1\r\n", static_cast<int>(n));
    AppendRealCard(out, "PMCSUN  = %14.4f\t/ POST MERIDIUM CENTER \r\n",
                 PostMeridianCentre(n, receiver.pmc));
    AppendFormat(out, "DATE-OBS= '%2d/%02d/%02d'\t/ \r\n", setup.day, setup.month, setup.year);
    const std::size_t timeCard = out.size();
    AppendFormat(out, "TIME-OBS= '%02d:%02d:%06.3f'\t/ UT \r\n", at.observationTime.hour,
                 at.observationTime.minute, static_cast<double>(at.observationTime.second));
    SignNaN(out, timeCard, static_cast<double>(at.observationTime.second));
    AppendFormat(out, "OBJECT  = '%s'\t/ \r\n", setup.objectName.c_str());
    AppendFormat(out, "TELESCOP= '%s'\t/ \r\n", "KAVOR-350");
    AppendFormat(out, "ORIGIN  = '%s'\t/ \r\n", "DORNIKA");
    AppendFormat(out, "RADIUS  = %14d\t/ OPTICAL SOLAR RADIUS (ARCSECOND) \r\n", at.solarRadius);
    AppendRealCard(out, "AZIMUTH = %14.9f\t/ Azimuth of observ. \r\n",
                 static_cast<double>(pointing.azimuth));
    AppendRealCard(out, "ALTITUDE= %14.9f\t/ Altitude of source \r\n",
                 static_cast<double>(pointing.altitude));
    AppendRealCard(out, "ANGLE   = %14.9f\t/ Angle of decl. \r\n", static_cast<double>(pointing.angleP));
    AppendRealCard(out, "CDELT1  = %14.4f\t/ ARCSEC\t\r\n", static_cast<double>(pointing.step));
    AppendFormat(out, "N_POLAR = %14d\t/ NUMBER OF POLARIZATIONS [1 or 2]\r\n", 2);
    AppendFormat(out, "CALIBR  = %14d\t/ FLAG OF CALIBRATION [ 0-NO 1-YES ] \r\n",
                 static_cast<int>(calibrationFlag));
    AppendRealCard(out, "TCALIBR = %14.4f\t/ T OF CALIBRATION \r\n",
                 static_cast<double>(channel.calibrationStep));
    AppendFormat(out, "FLAG_IV = %14d\t/ IF 1 => R,L; IF 0 => I,V \r\n", 1);
    out += "COMMENT  TQSUN - TEMPERATURE OF A SURFACE OF THE QUIET SUN AGREED WITH THE \r\n";
    out += "COMMENT   FORM OF THE DIAGRAM OF A ANTENNA AND KOEF. OF TRANSITION TO FLUX \r\n";
    out += "END\r\n";

    // Channel group.
    AppendRealCard(out, "OBS-FREQ= %14.3f\t/ GHz \r\n",
                 receiver.channelFrequency.at(static_cast<std::size_t>(channel.channel)));
    AppendRealCard(out, "THETA-DG= %14.2f\t/ DIMENSION OF DIAGRAMM (ARCSECOND) \r\n",
                 static_cast<double>(channel.beamWidth));
    AppendFormat(out, "TQSUN   = %14d\t/ Ta[K] \r\n", channel.quietSunTemperature);
    AppendRealCard(out, "FLUX_L  = %14.3f\t/ KOEF. Ta[K] -> FLUX[S.F.U.] \r\n",
                 static_cast<double>(channel.fluxFactor));
    out += "END\r\n";

    // One group per polarisation, each followed by its data block.
    AppendPolarisation(out, 1, channel.left);
    AppendPolarisation(out, 0, channel.right);
    return out;
}

std::string FormattedNumber(const char* format, double value) {
    std::string text;
    AppendFormat(text, format, value);
    return text;
}

std::string ScanFileName(const std::string& baseName, int scanNumber, int scanCounter) {
    std::string name;
    AppendFormat(name, "%s_%02dz.%03d", baseName.c_str(), scanNumber, scanCounter);
    return name;
}

std::string ScanIndexName(const std::string& baseName, int scanNumber) {
    std::string name;
    AppendFormat(name, "%s_%02dz.0hd", baseName.c_str(), scanNumber);
    return name;
}

std::string ScanIndexLine(const std::string& baseName, int scanNumber, int scanCounter,
                          double channelFrequency) {
    std::string line = ScanFileName(baseName, scanNumber, scanCounter);
    AppendFormat(line, "\t%2.3f[GHz]\r\n", channelFrequency);
    return line;
}
