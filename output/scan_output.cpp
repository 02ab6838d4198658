#include "output/scan_output.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "output/scan_cards.h"

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

// The card `id` of the table, built as the table says: the keyword padded to
// 8 characters, "= ", the values in the card's format, "\t/ ", the comment and
// CR LF. Each kind has its own function below, which gives the format the C
// types of that kind and no others; the table's check (ScanCardsAreSound)
// holds every format to those types.
template <ScanCardId id, ScanCardKind kind, typename... Values>
void AppendCard(std::string& out, Values... values) {
    static_assert(kScanCards[id].kind == kind, "the card is written as another kind than the table's");
    constexpr ScanCardLayout card = kScanCards[id];
    constexpr std::size_t keywordLength = std::char_traits<char>::length(card.keyword);
    constexpr std::size_t commentLength = std::char_traits<char>::length(card.comment);
    // The card is put together on the stack and appended in one piece; a value
    // too long for it (a long object name) goes the longer way.
    char line[256];
    constexpr std::size_t valueAt = 10, tailLength = 3 + commentLength + 2;
    static_assert(valueAt + tailLength < sizeof line, "the comment is too long");
    std::memcpy(line, card.keyword, keywordLength);
    std::memset(line + keywordLength, ' ', 8 - keywordLength);
    line[8] = '=';
    line[9] = ' ';
    const int length = std::snprintf(line + valueAt, sizeof line - valueAt - tailLength, card.format, values...);
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof line - valueAt - tailLength) {
        char* tail = line + valueAt + length;
        std::memcpy(tail, "\t/ ", 3);
        std::memcpy(tail + 3, card.comment, commentLength);
        std::memcpy(tail + 3 + commentLength, "\r\n", 2);
        out.append(line, valueAt + static_cast<std::size_t>(length) + tailLength);
    } else {
        out.append(line, valueAt);
        AppendFormat(out, card.format, values...);
        out += "\t/ ";
        out.append(card.comment, commentLength);
        out += "\r\n";
    }
}

template <ScanCardId id>
void AppendWholeCard(std::string& out, int value) {
    AppendCard<id, ScanCardKind::Whole>(out, value);
}

template <ScanCardId id>
void AppendRealCard(std::string& out, double value) {
    const std::size_t start = out.size();
    AppendCard<id, ScanCardKind::Real>(out, value);
    SignNaN(out, start, value);
}

template <ScanCardId id>
void AppendTextCard(std::string& out, const char* value) {
    AppendCard<id, ScanCardKind::Text>(out, value);
}

template <ScanCardId id>
void AppendDateCard(std::string& out, int day, int month, int year) {
    AppendCard<id, ScanCardKind::Date>(out, day, month, year);
}

template <ScanCardId id>
void AppendTimeCard(std::string& out, int hour, int minute, double second) {
    const std::size_t start = out.size();
    AppendCard<id, ScanCardKind::Time>(out, hour, minute, second);
    SignNaN(out, start, second);
}

template <ScanCardId id>
void AppendCharacterCard(std::string& out, char value) {
    AppendCard<id, ScanCardKind::Character>(out, static_cast<int>(value));
}

// "COMMENT " and the comment, or "END": the cards without a value.
template <ScanCardId id>
void AppendFixedCard(std::string& out) {
    const ScanCardLayout& card = kScanCards[id];
    static_assert(kScanCards[id].kind == ScanCardKind::Comment || kScanCards[id].kind == ScanCardKind::End,
                  "the card has a value");
    if (card.kind == ScanCardKind::Comment) {
        out += card.keyword;
        out.append(8 - std::char_traits<char>::length(card.keyword), ' ');
        out += card.comment;
    } else {
        out += card.keyword;
    }
    out += "\r\n";
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

// The group of one polarisation, whose POLARIZ card is `first`, and its data block.
template <int first>
void AppendPolarisation(std::string& out, int polariz, const ScaledBlock& block) {
    AppendWholeCard<ScanCardId(first)>(out, polariz);
    AppendRealCard<ScanCardId(first + kBscaleOffset)>(out, static_cast<double>(block.bscale));
    AppendRealCard<ScanCardId(first + kBzeroOffset)>(out, static_cast<double>(block.bzero));
    AppendFixedCard<ScanCardId(first + kBlockEndOffset)>(out);
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
    AppendCharacterCard<kSimpleCard>(out, kScanSimple);
    AppendWholeCard<kBitpixCard>(out, kScanBitpix);
    AppendWholeCard<kNaxisCard>(out, kScanAxes);
    AppendWholeCard<kNaxis1Card>(out, static_cast<int>(n));
    AppendRealCard<kPmcsunCard>(out, PostMeridianCentre(n, receiver.pmc));
    AppendDateCard<kDateObsCard>(out, setup.day, setup.month, setup.year);
    AppendTimeCard<kTimeObsCard>(out, at.observationTime.hour, at.observationTime.minute,
                                 static_cast<double>(at.observationTime.second));
    AppendTextCard<kObjectCard>(out, setup.objectName.c_str());
    AppendTextCard<kTelescopCard>(out, "KAVOR-350");
    AppendTextCard<kOriginCard>(out, "DORNIKA");
    AppendWholeCard<kRadiusCard>(out, at.solarRadius);
    AppendRealCard<kAzimuthCard>(out, static_cast<double>(pointing.azimuth));
    AppendRealCard<kAltitudeCard>(out, static_cast<double>(pointing.altitude));
    AppendRealCard<kAngleCard>(out, static_cast<double>(pointing.angleP));
    AppendRealCard<kCdelt1Card>(out, static_cast<double>(pointing.step));
    AppendWholeCard<kNPolarCard>(out, kScanPolarisations);
    AppendWholeCard<kCalibrCard>(out, static_cast<int>(calibrationFlag));
    AppendRealCard<kTcalibrCard>(out, static_cast<double>(channel.calibrationStep));
    AppendWholeCard<kFlagIvCard>(out, kScanFlagIv);
    AppendFixedCard<kFirstCommentCard>(out);
    AppendFixedCard<kSecondCommentCard>(out);
    AppendFixedCard<kMainEndCard>(out);

    // Channel group.
    AppendRealCard<kObsFreqCard>(out, receiver.channelFrequency.at(static_cast<std::size_t>(channel.channel)));
    AppendRealCard<kThetaDgCard>(out, static_cast<double>(channel.beamWidth));
    AppendWholeCard<kTqsunCard>(out, channel.quietSunTemperature);
    AppendRealCard<kFluxLCard>(out, static_cast<double>(channel.fluxFactor));
    AppendFixedCard<kChannelEndCard>(out);

    // One group per polarisation, each followed by its data block.
    AppendPolarisation<kFirstPolarizCard>(out, 1, channel.left);
    AppendPolarisation<kSecondPolarizCard>(out, 0, channel.right);
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
