#include "output/scan_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "inputs/sample_files.h"

bool WholeNumber(const std::string& text, long long& value) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(start, &end, 10);
    return end != start && *end == '\0' && errno != ERANGE &&
           value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

namespace {

const char* const kGroupNames[kScanGroupCount] = {
    "the main header", "the channel group", "the group of the first polarisation",
    "the group of the second polarisation"};
const char* const kBlockNames[2] = {"first", "second"};

// A text fit for a message: at most `limit` characters, bytes outside the
// printable ASCII range as \xNN.
std::string Printable(const std::string& text, std::size_t limit = 40) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    if (text.size() > limit) out += "...";
    return out;
}

std::string TrimBlanks(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// A number as "%f" or "%e" writes it ("nan", "-nan" and "inf" included).
bool RealNumber(const std::string& text, double& value) {
    const char* start = text.c_str();
    char* end = nullptr;
    value = std::strtod(start, &end);
    return end != start && *end == '\0';
}

enum class CardRead { Ok, NoEnd, Malformed };

// Reads the card that begins at `pos` and moves `pos` past its CR LF. A quoted
// value runs to the quote before "\t/", so that it may hold a CR LF itself.
CardRead NextCard(const std::string& bytes, std::size_t& pos, ScanCard& card) {
    card = ScanCard();
    std::size_t end = std::string::npos;
    if (bytes.compare(pos + 8 < bytes.size() ? pos + 8 : bytes.size(), 3, "= '") == 0) {
        const std::size_t close = bytes.find("'\t/", pos + 11);
        if (close != std::string::npos) end = bytes.find("\r\n", close);
    }
    if (end == std::string::npos) end = bytes.find("\r\n", pos);
    if (end == std::string::npos) return CardRead::NoEnd;
    card.text = bytes.substr(pos, end - pos);
    pos = end + 2;

    const std::string& text = card.text;
    card.keyword = TrimBlanks(text.substr(0, 8));
    if (text == "END") return CardRead::Ok;
    if (text.compare(0, 8, "COMMENT ") == 0) {
        card.comment = text.substr(8);
        return CardRead::Ok;
    }
    if (text.size() < 10 || text[8] != '=' || text[9] != ' ' || card.keyword.empty())
        return CardRead::Malformed;
    card.hasValue = true;
    const std::string rest = text.substr(10);
    std::size_t commentAt = std::string::npos;
    if (!rest.empty() && rest[0] == '\'') {
        // The closing quote comes after the opening one, even when the text
        // itself begins with "\t/".
        std::size_t close = rest.find("'\t/", 1);
        if (close == std::string::npos) close = rest.rfind('\'');
        if (close == 0) return CardRead::Malformed;  // no closing quote
        card.quoted = true;
        card.value = rest.substr(1, close - 1);
        if (rest.compare(close + 1, 2, "\t/") == 0) commentAt = close + 3;
    } else {
        const std::size_t slash = rest.find("\t/");
        card.value = TrimBlanks(rest.substr(0, slash));
        if (slash != std::string::npos) commentAt = slash + 2;
    }
    if (commentAt != std::string::npos && commentAt <= rest.size()) {
        card.comment = rest.substr(commentAt);
        if (!card.comment.empty() && card.comment[0] == ' ') card.comment.erase(0, 1);
    }
    return CardRead::Ok;
}

// The typed values of one card group; the first card of a keyword counts.
struct GroupValues {
    const std::vector<ScanCard>& cards;
    const std::string& fileName;
    const char* groupName;
    std::string& error;

    const ScanCard* Find(const char* keyword) {
        for (const ScanCard& card : cards)
            if (card.hasValue && card.keyword == keyword) return &card;
        error = fileName + ": no " + keyword + " card in " + groupName;
        return nullptr;
    }

    bool Fail(const char* keyword, const char* what, const std::string& value) {
        error = fileName + ": " + keyword + " in " + groupName + " is not " + what + ": '" +
                Printable(value) + "'";
        return false;
    }

    bool Integer(const char* keyword, int32_t& out) {
        const ScanCard* card = Find(keyword);
        if (!card) return false;
        long long value = 0;
        if (card->quoted || !WholeNumber(card->value, value))
            return Fail(keyword, "a whole number", card->value);
        out = static_cast<int32_t>(value);
        return true;
    }

    bool Real(const char* keyword, double& out) {
        const ScanCard* card = Find(keyword);
        if (!card) return false;
        if (card->quoted || !RealNumber(card->value, out)) return Fail(keyword, "a number", card->value);
        return true;
    }

    bool Text(const char* keyword, std::string& out) {
        const ScanCard* card = Find(keyword);
        if (!card) return false;
        if (!card->quoted) return Fail(keyword, "a quoted text", card->value);
        out = card->value;
        return true;
    }

};

// The values of a group's cards, each as its kind reads it, by the cards'
// places in the table.
struct CardValue {
    int32_t whole = 0;
    double real = 0.0;
    std::string text;
};
using CardValues = std::array<CardValue, kScanCardCount>;

// What a scan file must hold: its cards' values that are the same in every file.
struct RequiredValue {
    ScanCardId card;
    int32_t value;
    const char* meaning;
};
const RequiredValue kRequiredValues[] = {
    {kBitpixCard, kScanBitpix, "a scan file holds 16-bit values"},
    {kNaxisCard, kScanAxes, "a scan file has one data axis"},
    {kNPolarCard, kScanPolarisations, "a scan file holds two polarisations"},
};

// Whether the value just read of the card `id` is one a scan file may have.
bool Allowed(ScanCardId id, const CardValue& value, const std::string& name, std::string& error) {
    const char* keyword = kScanCards[id].keyword;
    for (const RequiredValue& required : kRequiredValues) {
        if (required.card != id || value.whole == required.value) continue;
        error = name + ": " + keyword + " is " + std::to_string(value.whole) + "; " + required.meaning;
        return false;
    }
    if (id == kNaxis1Card && value.whole < 0) {
        error = name + ": " + keyword + " is " + std::to_string(value.whole) + ", not a number of points";
        return false;
    }
    return true;
}

// Reads the values of the cards of `group` in the table's order, each by its
// kind; the first card that is missing or wrong gives the error. SIMPLE,
// COMMENT and END cards carry nothing to read.
bool ReadGroup(const std::vector<ScanCard>& cards, const std::string& name, int group,
               CardValues& values, std::string& error) {
    GroupValues read{cards, name, kGroupNames[group], error};
    for (int i = 0; i < kScanCardCount; ++i) {
        const ScanCardLayout& card = kScanCards[static_cast<std::size_t>(i)];
        if (card.group != group) continue;
        CardValue& value = values[static_cast<std::size_t>(i)];
        switch (card.kind) {
            case ScanCardKind::Whole:
                if (!read.Integer(card.keyword, value.whole)) return false;
                break;
            case ScanCardKind::Real:
                if (!read.Real(card.keyword, value.real)) return false;
                break;
            case ScanCardKind::Text:
            case ScanCardKind::Date:
            case ScanCardKind::Time:
                if (!read.Text(card.keyword, value.text)) return false;
                break;
            case ScanCardKind::Character:
            case ScanCardKind::Comment:
            case ScanCardKind::End:
                continue;
        }
        if (!Allowed(static_cast<ScanCardId>(i), value, name, error)) return false;
    }
    return true;
}

// The value of the card `id` as the kind the table gives it.
template <ScanCardId id>
int32_t WholeValue(const CardValues& values) {
    static_assert(kScanCards[id].kind == ScanCardKind::Whole, "not a whole-number card");
    return values[id].whole;
}
template <ScanCardId id>
double RealValue(const CardValues& values) {
    static_assert(kScanCards[id].kind == ScanCardKind::Real, "not a number card");
    return values[id].real;
}
template <ScanCardId id>
const std::string& TextValue(const CardValues& values) {
    static_assert(kScanCards[id].kind == ScanCardKind::Text || kScanCards[id].kind == ScanCardKind::Date ||
                      kScanCards[id].kind == ScanCardKind::Time,
                  "not a quoted-text card");
    return values[id].text;
}

bool MainValues(const std::string& name, ScanFileContents& scan, std::string& error) {
    CardValues values;
    if (!ReadGroup(scan.groups[kMainGroup], name, kMainGroup, values, error)) return false;
    scan.naxis1 = WholeValue<kNaxis1Card>(values);
    scan.pmcsun = RealValue<kPmcsunCard>(values);
    scan.dateObs = TextValue<kDateObsCard>(values);
    scan.timeObs = TextValue<kTimeObsCard>(values);
    scan.object = TextValue<kObjectCard>(values);
    scan.telescope = TextValue<kTelescopCard>(values);
    scan.origin = TextValue<kOriginCard>(values);
    scan.radius = WholeValue<kRadiusCard>(values);
    scan.azimuth = RealValue<kAzimuthCard>(values);
    scan.altitude = RealValue<kAltitudeCard>(values);
    scan.angle = RealValue<kAngleCard>(values);
    scan.cdelt1 = RealValue<kCdelt1Card>(values);
    scan.nPolar = WholeValue<kNPolarCard>(values);
    scan.calibr = WholeValue<kCalibrCard>(values);
    scan.tcalibr = RealValue<kTcalibrCard>(values);
    scan.flagIv = WholeValue<kFlagIvCard>(values);
    std::vector<std::string> date = SplitAt(scan.dateObs, '/');
    long long day = 0, month = 0, year = 0;
    if (date.size() != 3 || !WholeNumber(date[0], day) || !WholeNumber(date[1], month) ||
        !WholeNumber(date[2], year)) {
        error = name + ": " + kScanCards[kDateObsCard].keyword + " '" + Printable(scan.dateObs) +
                "' is not a day/month/year date";
        return false;
    }
    std::vector<std::string> time = SplitAt(scan.timeObs, ':');
    long long hour = 0, minute = 0;
    if (time.size() != 3 || !WholeNumber(time[0], hour) || !WholeNumber(time[1], minute) ||
        !RealNumber(time[2], scan.second)) {
        error = name + ": " + kScanCards[kTimeObsCard].keyword + " '" + Printable(scan.timeObs) +
                "' is not an hours:minutes:seconds time";
        return false;
    }
    scan.day = static_cast<int>(day);
    scan.month = static_cast<int>(month);
    scan.year = static_cast<int>(year);
    scan.hour = static_cast<int>(hour);
    scan.minute = static_cast<int>(minute);
    return true;
}

bool ChannelValues(const std::string& name, ScanFileContents& scan, std::string& error) {
    CardValues values;
    if (!ReadGroup(scan.groups[kChannelGroup], name, kChannelGroup, values, error)) return false;
    scan.obsFreq = RealValue<kObsFreqCard>(values);
    scan.thetaDg = RealValue<kThetaDgCard>(values);
    scan.tqsun = WholeValue<kTqsunCard>(values);
    scan.fluxL = RealValue<kFluxLCard>(values);
    return true;
}

// The values of the group of one polarisation, whose POLARIZ card is `first`.
template <int first>
bool BlockValues(const std::vector<ScanCard>& cards, const std::string& name, ScanBlock& block,
                 std::string& error) {
    CardValues values;
    if (!ReadGroup(cards, name, kScanCards[first].group, values, error)) return false;
    block.polariz = WholeValue<ScanCardId(first)>(values);
    block.bscale = RealValue<ScanCardId(first + kBscaleOffset)>(values);
    block.bzero = RealValue<ScanCardId(first + kBzeroOffset)>(values);
    return true;
}

}  // namespace

bool ParseScanFile(const std::string& bytes, const std::string& name, ScanFileContents& scan,
                   std::string& error) {
    scan = ScanFileContents();
    if (bytes.empty()) {
        error = name + ": the file is empty";
        return false;
    }
    if (bytes.compare(0, 10, "SIMPLE  = ") != 0) {
        error = name + ": not a scan file: it does not begin with a SIMPLE card";
        return false;
    }
    std::size_t pos = 0;
    for (int group = 0; group < kScanGroupCount; ++group) {
        std::vector<ScanCard>& cards = scan.groups[static_cast<std::size_t>(group)];
        for (;;) {
            ScanCard card;
            const CardRead read = NextCard(bytes, pos, card);
            if (read == CardRead::NoEnd) {
                error = name + ": cut short in " + kGroupNames[group] + " (no END card)";
                return false;
            }
            if (read == CardRead::Malformed) {
                error = name + ": card " + std::to_string(cards.size() + 1) + " of " +
                        kGroupNames[group] + " is not a KEYWORD = value card: '" +
                        Printable(card.text) + "'";
                return false;
            }
            if (card.text == "END") break;
            cards.push_back(card);
        }
        if (group == kMainGroup && !MainValues(name, scan, error)) return false;
        if (group == kChannelGroup && !ChannelValues(name, scan, error)) return false;
        if (group < kFirstBlockGroup) continue;

        const int b = group - kFirstBlockGroup;
        ScanBlock& block = scan.blocks[static_cast<std::size_t>(b)];
        if (!(b == 0 ? BlockValues<kFirstPolarizCard>(cards, name, block, error)
                     : BlockValues<kSecondPolarizCard>(cards, name, block, error)))
            return false;
        const std::size_t length = 2 * static_cast<std::size_t>(scan.naxis1);
        if (bytes.size() - pos < length) {
            error = name + ": the " + kBlockNames[b] + " data block is cut short: " +
                    std::to_string(bytes.size() - pos) + " of " + std::to_string(length) + " bytes";
            return false;
        }
        block.values.resize(static_cast<std::size_t>(scan.naxis1));
        for (std::size_t i = 0; i < block.values.size(); ++i) {
            const auto low = static_cast<unsigned char>(bytes[pos + 2 * i]);
            const auto high = static_cast<unsigned char>(bytes[pos + 2 * i + 1]);
            block.values[i] = static_cast<int16_t>(static_cast<uint16_t>(low | (high << 8)));
        }
        pos += length;
        if (bytes.compare(pos, 2, "\r\n") != 0) {
            error = name + ": the " + kBlockNames[b] + " data block is not followed by CR LF";
            return false;
        }
        pos += 2;
    }
    if (pos != bytes.size()) {
        error = name + ": " + std::to_string(bytes.size() - pos) +
                " bytes after the end of the second data block";
        return false;
    }
    return true;
}

bool ReadScanFile(const std::string& path, ScanFileContents& scan, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadInputFile(path, kLongestInputFile, bytes)) {
        error = "Can't open " + path;
        return false;
    }
    return ParseScanFile(std::string(bytes.begin(), bytes.end()), path, scan, error);
}

float PhysicalValue(const ScanBlock& block, int16_t value) {
    return static_cast<float>(static_cast<long double>(value) * static_cast<long double>(block.bscale) +
                              static_cast<long double>(block.bzero));
}

double PlaceOffset(const ScanFileContents& scan, int64_t place) {
    return scan.cdelt1 * (static_cast<double>(place) - scan.pmcsun);
}

bool ParseScanIndex(const std::string& bytes, const std::string& name,
                    std::vector<ScanIndexEntry>& entries, std::string& error) {
    entries.clear();
    std::size_t pos = 0;
    for (int line = 1; pos < bytes.size(); ++line) {
        const std::string where = name + ": line " + std::to_string(line);
        const std::size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) {
            error = where + " does not end with CR LF";
            return false;
        }
        const std::string text = bytes.substr(pos, end - pos);
        pos = end + 2;
        const std::size_t tab = text.find('\t');
        if (tab == std::string::npos || tab == 0) {
            error = where + " is not NAME<tab>FREQUENCY[GHz]: '" + Printable(text) + "'";
            return false;
        }
        ScanIndexEntry entry;
        entry.name = text.substr(0, tab);
        if (entry.name.find_first_of("/\\") != std::string::npos || entry.name == "." ||
            entry.name == "..") {
            error = where + " names '" + Printable(entry.name) +
                    "', not a file in the index's folder";
            return false;
        }
        const std::string frequency = text.substr(tab + 1);
        const std::size_t unit = frequency.size() >= 5 ? frequency.size() - 5 : 0;
        if (frequency.compare(unit, std::string::npos, "[GHz]") != 0 ||
            !RealNumber(frequency.substr(0, unit), entry.frequency)) {
            error = where + " does not give a frequency in GHz: '" + Printable(frequency) + "'";
            return false;
        }
        entries.push_back(entry);
    }
    return true;
}

bool ReadScanIndex(const std::string& path, std::vector<ScanIndexEntry>& entries,
                   std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadInputFile(path, kLongestInputFile, bytes)) {
        error = "Can't open " + path;
        return false;
    }
    return ParseScanIndex(std::string(bytes.begin(), bytes.end()), path, entries, error);
}

