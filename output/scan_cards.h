// The cards of a scan file, in the order they stand in the file: the one
// table the writer builds the cards from and the reader reads them by.
//
// A card with a value is the keyword padded with blanks to 8 characters,
// "= ", the value as its format writes it, "\t/ ", the comment and CR LF. A
// COMMENT card is "COMMENT " followed by its comment and CR LF; an END card
// is "END" and CR LF. The four groups each close with an END card; after the
// END card of each polarisation's group comes that polarisation's data block.
//
// How the formats are kept safe: every kind has one fixed list of C types
// (ScanCardKind below), the writer has one function per kind that passes
// exactly those types, and a check at compile time (ScanCardsAreSound, a
// static_assert beside the table) holds every entry's format to the
// conversions of its kind: no length modifiers, no '*' widths, no other
// conversion and no other count of them. The unit tests format every entry
// with the values of its kind as well.
#pragma once

#include <array>
#include <vector>

// The four card groups, each closed by an END card.
enum ScanGroup { kMainGroup = 0, kChannelGroup = 1, kFirstBlockGroup = 2, kSecondBlockGroup = 3 };
constexpr int kScanGroupCount = 4;

// What a card holds, and the C types its format is given.
enum class ScanCardKind {
    Whole,      // a whole number: one int ("%14d")
    Real,       // a number: one double ("%14.4f", "%14e")
    Text,       // a quoted text: one const char* ("'%s'")
    Date,       // a quoted date: three ints, day, month and year
    Time,       // a quoted time: two ints, hours and minutes, and a double, seconds
    Character,  // a single character: one int ("%14c")
    Comment,    // a COMMENT card: no value, the comment is its text
    End,        // the END card that closes a group: no value, no comment
};

// One card: its group, keyword, kind, the printf format of its value ("" for
// COMMENT and END cards) and its comment, blanks and tabs as they stand.
struct ScanCardLayout {
    int group;
    const char* keyword;
    ScanCardKind kind;
    const char* format;
    const char* comment;
};

// The place of every card in the table, in file order.
enum ScanCardId : int {
    kSimpleCard,
    kBitpixCard,
    kNaxisCard,
    kNaxis1Card,
    kPmcsunCard,
    kDateObsCard,
    kTimeObsCard,
    kObjectCard,
    kTelescopCard,
    kOriginCard,
    kRadiusCard,
    kAzimuthCard,
    kAltitudeCard,
    kAngleCard,
    kCdelt1Card,
    kNPolarCard,
    kCalibrCard,
    kTcalibrCard,
    kFlagIvCard,
    kFirstCommentCard,
    kSecondCommentCard,
    kMainEndCard,
    kObsFreqCard,
    kThetaDgCard,
    kTqsunCard,
    kFluxLCard,
    kChannelEndCard,
    // The two polarisations' groups hold the same cards.
    kFirstPolarizCard,
    kFirstBscaleCard,
    kFirstBzeroCard,
    kFirstBlockEndCard,
    kSecondPolarizCard,
    kSecondBscaleCard,
    kSecondBzeroCard,
    kSecondBlockEndCard,
    kScanCardCount
};

// The values that are the same in every scan file: BITPIX, NAXIS and N_POLAR
// (the reader rejects a file with others), FLAG_IV and SIMPLE.
constexpr int kScanBitpix = 16;
constexpr int kScanAxes = 1;
constexpr int kScanPolarisations = 2;
constexpr int kScanFlagIv = 1;
constexpr char kScanSimple = 'F';

// The cards of one polarisation's group after its first (POLARIZ) card.
constexpr int kBscaleOffset = 1, kBzeroOffset = 2, kBlockEndOffset = 3;

inline constexpr std::array<ScanCardLayout, kScanCardCount> kScanCards = [] {
    using K = ScanCardKind;
    std::array<ScanCardLayout, kScanCardCount> t{};
    t[kSimpleCard] = {kMainGroup, "SIMPLE", K::Character, "%14c", "FILE DOES NOT CONFORM TO FITS STANDARD"};
    t[kBitpixCard] = {kMainGroup, "BITPIX", K::Whole, "%14d", "INTEGER WITH '(I2)' FORMAT"};
    t[kNaxisCard] = {kMainGroup, "NAXIS", K::Whole, "%14d", "NUMBER OF DATA AXES"};
    t[kNaxis1Card] = {kMainGroup, "NAXIS1", K::Whole, "%14d", "LENGTH OF DATA AXIS 1"};
    t[kPmcsunCard] = {kMainGroup, "PMCSUN", K::Real, "%14.4f", "POST MERIDIUM CENTER "};
    t[kDateObsCard] = {kMainGroup, "DATE-OBS", K::Date, "'%2d/%02d/%02d'", ""};
    t[kTimeObsCard] = {kMainGroup, "TIME-OBS", K::Time, "'%02d:%02d:%06.3f'", "UT "};
    t[kObjectCard] = {kMainGroup, "OBJECT", K::Text, "'%s'", ""};
    t[kTelescopCard] = {kMainGroup, "TELESCOP", K::Text, "'%s'", ""};
    t[kOriginCard] = {kMainGroup, "ORIGIN", K::Text, "'%s'", ""};
    t[kRadiusCard] = {kMainGroup, "RADIUS", K::Whole, "%14d", "OPTICAL SOLAR RADIUS (ARCSECOND) "};
    t[kAzimuthCard] = {kMainGroup, "AZIMUTH", K::Real, "%14.9f", "Azimuth of observ. "};
    t[kAltitudeCard] = {kMainGroup, "ALTITUDE", K::Real, "%14.9f", "Altitude of source "};
    t[kAngleCard] = {kMainGroup, "ANGLE", K::Real, "%14.9f", "Angle of decl. "};
    t[kCdelt1Card] = {kMainGroup, "CDELT1", K::Real, "%14.4f", "ARCSEC\t"};
    t[kNPolarCard] = {kMainGroup, "N_POLAR", K::Whole, "%14d", "NUMBER OF POLARIZATIONS [1 or 2]"};
    t[kCalibrCard] = {kMainGroup, "CALIBR", K::Whole, "%14d", "FLAG OF CALIBRATION [ 0-NO 1-YES ] "};
    t[kTcalibrCard] = {kMainGroup, "TCALIBR", K::Real, "%14.4f", "T OF CALIBRATION "};
    t[kFlagIvCard] = {kMainGroup, "FLAG_IV", K::Whole, "%14d", "IF 1 => R,L; IF 0 => I,V "};
    t[kFirstCommentCard] = {kMainGroup, "COMMENT", K::Comment, "",
                            " TQSUN - TEMPERATURE OF A SURFACE OF THE QUIET SUN AGREED WITH THE "};
    t[kSecondCommentCard] = {kMainGroup, "COMMENT", K::Comment, "",
                             "  FORM OF THE DIAGRAM OF A ANTENNA AND KOEF. OF TRANSITION TO FLUX "};
    t[kMainEndCard] = {kMainGroup, "END", K::End, "", ""};
    t[kObsFreqCard] = {kChannelGroup, "OBS-FREQ", K::Real, "%14.3f", "GHz "};
    t[kThetaDgCard] = {kChannelGroup, "THETA-DG", K::Real, "%14.2f", "DIMENSION OF DIAGRAMM (ARCSECOND) "};
    t[kTqsunCard] = {kChannelGroup, "TQSUN", K::Whole, "%14d", "Ta[K] "};
    t[kFluxLCard] = {kChannelGroup, "FLUX_L", K::Real, "%14.3f", "KOEF. Ta[K] -> FLUX[S.F.U.] "};
    t[kChannelEndCard] = {kChannelGroup, "END", K::End, "", ""};
    for (const int group : {kFirstBlockGroup, kSecondBlockGroup}) {
        const int first = group == kFirstBlockGroup ? kFirstPolarizCard : kSecondPolarizCard;
        t[first] = {group, "POLARIZ", K::Whole, "%14d", "IF 1 - (R or R+L), IF 0- (L or R_L)"};
        t[first + kBscaleOffset] = {group, "BSCALE", K::Real, "%14e", ""};
        t[first + kBzeroOffset] = {group, "BZERO", K::Real, "%14e", ""};
        t[first + kBlockEndOffset] = {group, "END", K::End, "", ""};
    }
    return t;
}();

// Whether two texts are the same, at compile time too.
constexpr bool SameCardText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

// Whether `format` has exactly the conversions of `kind` (flags, a width and
// a precision allowed; no length modifier, no '*', no "%%"): the guarantee
// that the writer's arguments of that kind fit it.
constexpr bool FormatFitsKind(const char* format, ScanCardKind kind) {
    const char* expected = "";  // one letter a conversion; 'f' any of f, e, g (and capitals)
    switch (kind) {
        case ScanCardKind::Whole: expected = "d"; break;
        case ScanCardKind::Real: expected = "f"; break;
        case ScanCardKind::Text: expected = "s"; break;
        case ScanCardKind::Date: expected = "ddd"; break;
        case ScanCardKind::Time: expected = "ddf"; break;
        case ScanCardKind::Character: expected = "c"; break;
        case ScanCardKind::Comment:
        case ScanCardKind::End: expected = ""; break;
    }
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') continue;
        ++p;
        while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') ++p;
        while (*p >= '0' && *p <= '9') ++p;
        if (*p == '.') {
            ++p;
            while (*p >= '0' && *p <= '9') ++p;
        }
        char conversion = *p;
        if (conversion == 'e' || conversion == 'E' || conversion == 'g' || conversion == 'G' ||
            conversion == 'F')
            conversion = 'f';
        if (conversion == '\0' || conversion != *expected) return false;
        ++expected;
    }
    return *expected == '\0';
}

// The table as the writer and the reader need it: every entry filled, a
// keyword of 1 to 8 characters, the groups in order each closed by exactly
// one END card, COMMENT and END cards by those keywords, and every format
// fitting its kind.
constexpr bool ScanCardsAreSound(const std::array<ScanCardLayout, kScanCardCount>& cards) {
    int group = kMainGroup;
    for (const ScanCardLayout& card : cards) {
        if (card.keyword == nullptr || card.format == nullptr || card.comment == nullptr) return false;
        int length = 0;
        while (card.keyword[length] != '\0') ++length;
        if (length == 0 || length > 8) return false;
        if (card.group != group) return false;
        if (!FormatFitsKind(card.format, card.kind)) return false;
        const bool end = SameCardText(card.keyword, "END");
        const bool comment = SameCardText(card.keyword, "COMMENT");
        if (end != (card.kind == ScanCardKind::End) || comment != (card.kind == ScanCardKind::Comment))
            return false;
        if (card.kind == ScanCardKind::End) {
            if (card.comment[0] != '\0') return false;
            ++group;
        }
    }
    return group == kScanGroupCount;
}

static_assert(ScanCardsAreSound(kScanCards), "a scan card's keyword, group, kind or format is wrong");

// The table above as a list, in file order: for code that lists the cards
// (the keyword, kind, format and comment of each).
const std::vector<ScanCardLayout>& ScanCardTable();

// "whole", "real", "text", "date", "time", "character", "comment" or "end".
const char* ScanCardKindName(ScanCardKind kind);
