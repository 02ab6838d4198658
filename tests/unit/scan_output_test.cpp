// Scan file cards, scan index lines, the scaling to 16 bits and the channel
// loop run in-process (portable: these also run in the Windows build).
#include "output/scan_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "app/conversion.h"
#include "convert/channel_loop.h"
#include "convert/repair.h"
#include "output/scan_cards.h"
#include "output/scan_reader.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

ObservationHeader CardHeader() {
    ObservationHeader h;
    h.setup.day = 5;
    h.setup.month = 11;
    h.setup.year = 2003;
    h.setup.objectName = "O'Sun quiet";
    h.receiver.channelFrequency[3] = 2.8;
    h.receiver.pmc = 400.5f;
    h.pointing.observationTime = {9, 5, 7.25f};
    h.pointing.solarRadius = 961;
    return h;
}

const PointingValues kPointing{10.5f, 45.25f, 12.5f, 0.0996f};

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

TEST(ScanFileBytes, CardsAndDataBlocksByteForByte) {
    ObservationHeader header = CardHeader();
    PointingValues pointing = kPointing;
    ScanChannel channel;
    channel.channel = 3;
    channel.sampleCount = 3;
    channel.calibrationStep = 12.3f;
    channel.fluxFactor = 3.5f;
    channel.quietSunTemperature = 11500;
    channel.beamWidth = 17.5f;
    channel.left = {{-1, 30000, -30000}, 0.0f, -1.5f};
    channel.right = {{1, 2, -32768}, 1e-3f, 25000.0f};

    const std::string expected =
        "SIMPLE  =              F\t/ FILE DOES NOT CONFORM TO FITS STANDARD\r\n"
        "BITPIX  =             16\t/ INTEGER WITH '(I2)' FORMAT\r\n"
        "NAXIS   =              1\t/ NUMBER OF DATA AXES\r\n"
        "NAXIS1  =              3\t/ LENGTH OF DATA AXIS 1\r\n"
        "PMCSUN  =      -396.5000\t/ POST MERIDIUM CENTER \r\n"
        "DATE-OBS= ' 5/11/2003'\t/ \r\n"
        "TIME-OBS= '09:05:07.250'\t/ UT \r\n"
        "OBJECT  = 'O'Sun quiet'\t/ \r\n"
        "TELESCOP= 'KAVOR-350'\t/ \r\n"
        "ORIGIN  = 'DORNIKA'\t/ \r\n"
        "RADIUS  =            961\t/ OPTICAL SOLAR RADIUS (ARCSECOND) \r\n"
        "AZIMUTH =   10.500000000\t/ Azimuth of observ. \r\n"
        "ALTITUDE=   45.250000000\t/ Altitude of source \r\n"
        "ANGLE   =   12.500000000\t/ Angle of decl. \r\n"
        "CDELT1  =         0.0996\t/ ARCSEC\t\r\n"
        "N_POLAR =              2\t/ NUMBER OF POLARIZATIONS [1 or 2]\r\n"
        "CALIBR  =              0\t/ FLAG OF CALIBRATION [ 0-NO 1-YES ] \r\n"
        "TCALIBR =        12.3000\t/ T OF CALIBRATION \r\n"
        "FLAG_IV =              1\t/ IF 1 => R,L; IF 0 => I,V \r\n"
        "COMMENT  TQSUN - TEMPERATURE OF A SURFACE OF THE QUIET SUN AGREED WITH THE \r\n"
        "COMMENT   FORM OF THE DIAGRAM OF A ANTENNA AND KOEF. OF TRANSITION TO FLUX \r\n"
        "END\r\n"
        "OBS-FREQ=          2.800\t/ GHz \r\n"
        "THETA-DG=          17.50\t/ DIMENSION OF DIAGRAMM (ARCSECOND) \r\n"
        "TQSUN   =          11500\t/ Ta[K] \r\n"
        "FLUX_L  =          3.500\t/ KOEF. Ta[K] -> FLUX[S.F.U.] \r\n"
        "END\r\n"
        "POLARIZ =              1\t/ IF 1 - (R or R+L), IF 0- (L or R_L)\r\n"
        "BSCALE  =   0.000000e+00\t/ \r\n"
        "BZERO   =  -1.500000e+00\t/ \r\n"
        "END\r\n" +
        Bytes({0xFF, 0xFF, 0x30, 0x75, 0xD0, 0x8A}) +
        "\r\n"
        "POLARIZ =              0\t/ IF 1 - (R or R+L), IF 0- (L or R_L)\r\n"
        "BSCALE  =   1.000000e-03\t/ \r\n"
        "BZERO   =   2.500000e+04\t/ \r\n"
        "END\r\n" +
        Bytes({0x01, 0x00, 0x02, 0x00, 0x00, 0x80}) + "\r\n";
    EXPECT_EQ(ScanFileBytes(header, pointing, 0, channel), expected);
    EXPECT_EQ(pointing.azimuth, 10.5f);  // no capital A followed by a number
}

TEST(ScanFileBytes, NoSamplesGiveTwoEmptyBlocks) {
    ObservationHeader header = CardHeader();
    PointingValues pointing = kPointing;
    ScanChannel channel;
    channel.channel = 3;
    channel.fluxFactor = 1.0f;
    channel.quietSunTemperature = 1;
    channel.beamWidth = 1.0f;
    channel.left = ScaleSamples(nullptr, 0, kLeftScalingSeed);
    channel.right = ScaleSamples(nullptr, 0, kRightScalingSeed);
    const std::string bytes = ScanFileBytes(header, pointing, 0, channel);
    EXPECT_NE(bytes.find("NAXIS1  =              0\t"), std::string::npos);
    EXPECT_NE(bytes.find("PMCSUN  =      -399.5000\t"), std::string::npos);
    const std::string tail =
        "POLARIZ =              1\t/ IF 1 - (R or R+L), IF 0- (L or R_L)\r\n"
        "BSCALE  =  -3.333333e+05\t/ \r\n"
        "BZERO   =   0.000000e+00\t/ \r\n"
        "END\r\n\r\n"
        "POLARIZ =              0\t/ IF 1 - (R or R+L), IF 0- (L or R_L)\r\n"
        "BSCALE  =  -3.333333e+06\t/ \r\n"
        "BZERO   =   0.000000e+00\t/ \r\n"
        "END\r\n\r\n";
    ASSERT_GE(bytes.size(), tail.size());
    EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);
}

TEST(ScanFileBytes, ObjectNameAzimuthIsThePlansOwn) {
    ObservationHeader header = CardHeader();
    header.setup.objectName = "SUN A15";
    PointingValues pointing = kPointing;
    ScanChannel channel;
    channel.channel = 3;
    // The run's plan applies the object-name override; the writer only formats.
    RunInputs inputs;
    inputs.repairMode = 0;
    pointing = PlanRun(inputs, header).pointing;
    EXPECT_EQ(pointing.azimuth, 15.0f);
    const std::string bytes = ScanFileBytes(header, pointing, 0, channel);
    EXPECT_NE(bytes.find("OBJECT  = 'SUN A15'\t/ \r\n"), std::string::npos);
    EXPECT_NE(bytes.find("AZIMUTH =   15.000000000\t"), std::string::npos) << bytes;
}

TEST(ScanFileBytes, ObjectNameLongerThanACardLineIsWrittenWhole) {
    ObservationHeader header = CardHeader();
    header.setup.objectName = std::string(300, 'S') + "%d";
    ScanChannel channel;
    channel.channel = 3;
    const std::string bytes = ScanFileBytes(header, kPointing, 0, channel);
    EXPECT_NE(bytes.find("\r\nOBJECT  = '" + header.setup.objectName + "'\t/ \r\nTELESCOP= "), std::string::npos);
}

TEST(ScanFileBytes, NaNsAreSpelledTheSameOnEveryPlatform) {
    ObservationHeader header = CardHeader();
    header.pointing.observationTime.second = std::numeric_limits<float>::quiet_NaN();
    header.receiver.pmc = -std::numeric_limits<float>::quiet_NaN();
    PointingValues pointing = kPointing;
    pointing.angleP = -std::numeric_limits<float>::quiet_NaN();
    pointing.step = std::numeric_limits<float>::infinity();
    ScanChannel channel;
    channel.channel = 3;
    const std::string bytes = ScanFileBytes(header, pointing, 0, channel);
    // PMCSUN = (n + 1) - pmc keeps a NaN, whose sign the arithmetic may change.
    const double pmcsun = PostMeridianCentre(0, header.receiver.pmc);
    const std::string pmcText = std::signbit(pmcsun) ? "          -nan" : "           nan";
    EXPECT_NE(bytes.find("PMCSUN  = " + pmcText + "\t"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("TIME-OBS= '09:05:   nan'"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("ANGLE   =           -nan\t"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("CDELT1  =            inf\t"), std::string::npos) << bytes;
}

// A card's value formatted with the C types of its kind, as the writer passes them.
std::string FormattedCardValue(const ScanCardLayout& card) {
    char text[128] = "";
    int length = 0;
    switch (card.kind) {
        case ScanCardKind::Whole: length = std::snprintf(text, sizeof text, card.format, -12345); break;
        case ScanCardKind::Real: length = std::snprintf(text, sizeof text, card.format, -1.5); break;
        case ScanCardKind::Text: length = std::snprintf(text, sizeof text, card.format, "abc"); break;
        case ScanCardKind::Date: length = std::snprintf(text, sizeof text, card.format, 5, 11, 2003); break;
        case ScanCardKind::Time: length = std::snprintf(text, sizeof text, card.format, 9, 5, 7.25); break;
        case ScanCardKind::Character: length = std::snprintf(text, sizeof text, card.format, 'F'); break;
        case ScanCardKind::Comment:
        case ScanCardKind::End: length = std::snprintf(text, sizeof text, "%s", card.format); break;
    }
    return length >= 0 ? std::string(text, static_cast<std::size_t>(length)) : "(error)";
}

TEST(ScanCards, EveryFormatTakesTheValuesOfItsKind) {
    const struct {
        ScanCardKind kind;
        const char* value;  // what the kind's values above give
    } kinds[] = {
        {ScanCardKind::Whole, "-12345"},     {ScanCardKind::Real, "-1.5"},
        {ScanCardKind::Text, "'abc'"},       {ScanCardKind::Date, "' 5/11/2003'"},
        {ScanCardKind::Time, "'09:05:07.250'"}, {ScanCardKind::Character, "F"},
        {ScanCardKind::Comment, ""},         {ScanCardKind::End, ""},
    };
    ASSERT_EQ(ScanCardTable().size(), static_cast<std::size_t>(kScanCardCount));
    for (const ScanCardLayout& card : ScanCardTable()) {
        const std::string value = FormattedCardValue(card);
        for (const auto& k : kinds) {
            if (k.kind != card.kind) continue;
            // Numbers and characters take 14 places, right-aligned; a real's
            // digits after the point differ from card to card.
            if (card.kind == ScanCardKind::Whole || card.kind == ScanCardKind::Character) {
                EXPECT_EQ(value, std::string(14 - std::string(k.value).size(), ' ') + k.value) << card.keyword;
            } else if (card.kind == ScanCardKind::Real) {
                EXPECT_EQ(value.size(), 14u) << card.keyword;
                EXPECT_EQ(std::stod(value), -1.5) << card.keyword;
            } else {
                EXPECT_EQ(value, k.value) << card.keyword;
            }
        }
    }
}

// The table is what the writer writes: card after card, group after group,
// each card as keyword, "= ", value, "\t/ ", comment, CR LF.
TEST(ScanCards, TheWriterWritesTheTablesCardsInOrder) {
    ScanChannel channel;
    channel.channel = 3;
    channel.sampleCount = 2;
    channel.left = {{1, 2}, 1.0f, 0.0f};
    channel.right = {{3, 4}, 1.0f, 0.0f};
    const std::string bytes = ScanFileBytes(CardHeader(), kPointing, 1, channel);
    ScanFileContents scan;
    std::string error;
    ASSERT_TRUE(ParseScanFile(bytes, "x.001", scan, error)) << error;
    std::array<std::size_t, kScanGroupCount> next{};
    std::size_t at = 0;  // where the next card stands in the bytes
    for (const ScanCardLayout& card : ScanCardTable()) {
        const std::string keyword = card.keyword;
        std::string expected;
        if (card.kind == ScanCardKind::End) {
            expected = "END\r\n";
        } else if (card.kind == ScanCardKind::Comment) {
            expected = "COMMENT " + std::string(card.comment) + "\r\n";
        } else {
            const auto g = static_cast<std::size_t>(card.group);
            ASSERT_LT(next[g], scan.groups[g].size()) << keyword;
            const ScanCard& read = scan.groups[g][next[g]];
            const bool quoted = card.kind == ScanCardKind::Text || card.kind == ScanCardKind::Date ||
                                card.kind == ScanCardKind::Time;
            EXPECT_EQ(read.quoted, quoted) << keyword;
            const std::string value = read.quoted ? "'" + read.value + "'" : read.text.substr(10, 14);
            expected = (keyword + "        ").substr(0, 8) + "= " + value + "\t/ " + card.comment + "\r\n";
        }
        EXPECT_EQ(bytes.compare(at, expected.size(), expected), 0)
            << keyword << ": " << bytes.substr(at, expected.size());
        at += expected.size();
        if (card.kind != ScanCardKind::End) {
            ++next[static_cast<std::size_t>(card.group)];
        } else if (card.group >= kFirstBlockGroup) {
            at += 2 * 2 + 2;  // the data block and its CR LF
        }
    }
    EXPECT_EQ(at, bytes.size());
    for (int g = 0; g < kScanGroupCount; ++g)
        EXPECT_EQ(next[static_cast<std::size_t>(g)], scan.groups[static_cast<std::size_t>(g)].size()) << g;
}

TEST(ScanCards, FormatsAreHeldToTheirKinds) {
    const struct {
        const char* format;
        ScanCardKind kind;
        bool fits;
    } cases[] = {
        {"%14d", ScanCardKind::Whole, true},
        {"%-+ #014d", ScanCardKind::Whole, true},
        {"%14ld", ScanCardKind::Whole, false},       // a long
        {"%*d", ScanCardKind::Whole, false},         // a second argument
        {"%14d%d", ScanCardKind::Whole, false},
        {"%14u", ScanCardKind::Whole, false},
        {"", ScanCardKind::Whole, false},
        {"%14.4f", ScanCardKind::Real, true},
        {"%14e", ScanCardKind::Real, true},
        {"%G", ScanCardKind::Real, true},
        {"%14.4Lf", ScanCardKind::Real, false},      // a long double
        {"%14.4d", ScanCardKind::Real, false},
        {"'%s'", ScanCardKind::Text, true},
        {"'%c'", ScanCardKind::Text, false},
        {"'%2d/%02d/%02d'", ScanCardKind::Date, true},
        {"'%2d/%02d'", ScanCardKind::Date, false},
        {"'%2d/%02d/%02d/%d'", ScanCardKind::Date, false},
        {"'%02d:%02d:%06.3f'", ScanCardKind::Time, true},
        {"'%02d:%02d:%06d'", ScanCardKind::Time, false},
        {"%14c", ScanCardKind::Character, true},
        {"%14s", ScanCardKind::Character, false},
        {"", ScanCardKind::Comment, true},
        {"100%", ScanCardKind::Comment, false},      // a '%' at the end
        {"%%", ScanCardKind::End, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatFitsKind(c.format, c.kind), c.fits) << c.format << " " << ScanCardKindName(c.kind);

    std::array<ScanCardLayout, kScanCardCount> cards = kScanCards;
    EXPECT_TRUE(ScanCardsAreSound(cards));
    cards[kTcalibrCard].format = "%14d";  // a number card with a whole-number format
    EXPECT_FALSE(ScanCardsAreSound(cards));
    cards = kScanCards;
    cards[kObsFreqCard].group = kMainGroup;  // after the main header's END card
    EXPECT_FALSE(ScanCardsAreSound(cards));
    cards = kScanCards;
    cards[kFluxLCard].keyword = "FLUX_L_FACTOR";  // longer than 8 characters
    EXPECT_FALSE(ScanCardsAreSound(cards));
    cards = kScanCards;
    cards[kSecondBlockEndCard].kind = ScanCardKind::Comment;  // a group not closed
    EXPECT_FALSE(ScanCardsAreSound(cards));
}

TEST(ScanNames, NumbersAndIndexLines) {
    EXPECT_EQ(ScanFileName("s05b03", 5, 2), "s05b03_05z.002");
    EXPECT_EQ(ScanFileName("s05b03", 123, 1), "s05b03_123z.001");
    EXPECT_EQ(ScanIndexName("s05b03", 5), "s05b03_05z.0hd");
    EXPECT_EQ(ScanIndexName("s311-1", 123), "s311-1_123z.0hd");
    EXPECT_EQ(ScanIndexLine("s05b03", 5, 2, 2.8), "s05b03_05z.002\t2.800[GHz]\r\n");
    EXPECT_EQ(ScanIndexLine("s05b03", 5, 1, 12.5), "s05b03_05z.001\t12.500[GHz]\r\n");
}

struct ScaleCase {
    const char* name;
    std::vector<float> samples;
    float seed;
    std::vector<int16_t> values;
    float bscale;
    float bzero;
};

TEST(ScaleSamples, ProcedureCases) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float tiny = std::numeric_limits<float>::denorm_min();
    const ScaleCase cases[] = {
        // BZERO 0 and BSCALE exactly 1: the quotients are the samples themselves.
        {"truncation toward zero and reverse order", {30000, 2.7f, -2.7f, -30000}, kLeftScalingSeed,
         {-30000, -2, 2, 30000}, 1.0f, 0.0f},
        {"first sample becomes the last value", {-30000, 0, 30000, 1.5f, 7.9f}, kRightScalingSeed,
         {7, 1, 30000, 0, -30000}, 1.0f, 0.0f},
        {"all equal", {7, 7, 7}, kLeftScalingSeed, {0, 0, 0}, 0.0f, 7.0f},
        {"single sample", {-4.5f}, kRightScalingSeed, {0}, 0.0f, -4.5f},
        {"no samples keep the seeds", {}, kLeftScalingSeed, {}, -333333.34375f, 0.0f},
        {"no samples, second seed", {}, kRightScalingSeed, {}, -3333333.25f, 0.0f},
        // Samples all below -1e10 leave max at the seed -1e10.
        {"max stays at the seed", {-10061440000.0f, -10030720000.0f}, kLeftScalingSeed,
         {0, -30000}, 1024.0f, -10030720000.0f},
        {"samples beyond the seed widen the range", {2e11f, -2e11f}, kRightScalingSeed,
         {-30000, 30000}, 2e11f / 30000, 0.0f},
        {"non-finite samples are left out and stored as 0", {nan, 30000, inf, -30000, -inf},
         kLeftScalingSeed, {0, -30000, 0, 30000, 0}, 1.0f, 0.0f},
        {"only non-finite samples", {nan, -inf}, kLeftScalingSeed, {0, 0}, -333333.34375f, 0.0f},
        // BSCALE rounds to the smallest subnormal: quotients of +-44700 keep their low 16 bits.
        {"low 16 bits are kept", {0.0f, 89400 * tiny}, kLeftScalingSeed, {-20836, 20836}, tiny,
         44700 * tiny},
    };
    for (const ScaleCase& c : cases) {
        const ScaledBlock block =
            ScaleSamples(c.samples.data(), static_cast<int32_t>(c.samples.size()), c.seed);
        EXPECT_EQ(block.values, c.values) << c.name;
        EXPECT_EQ(block.bscale, c.bscale) << c.name;
        EXPECT_EQ(block.bzero, c.bzero) << c.name;
    }
}

TEST(CalibrationStep, TenthOfTheLevelDifference) {
    std::array<int16_t, kCalibrationLevelCount> levels{};
    levels[1] = 100;
    levels[9] = 223;
    levels[2] = -32768;
    levels[10] = 32767;
    levels[57] = 50;
    levels[65] = 10;
    const struct {
        int16_t d;
        float expected;
    } cases[] = {
        {0, 0.0f},   {1, 12.3f},      {2, 6553.5f}, {57, -4.0f},
        {58, 0.0f},  {-1, 0.0f},      {-32768, 0.0f}, {32767, 0.0f},
    };
    for (const auto& c : cases) EXPECT_EQ(CalibrationStep(levels.data(), c.d), c.expected) << c.d;
}

TEST(BaseName, DayHexMonthAndTwoDigitYear) {
    EXPECT_EQ(BaseName(5, 11, 2003), "s05b03");
    EXPECT_EQ(BaseName(31, 1, 1999), "s311-1");
    EXPECT_EQ(BaseName(5, 12, 1998), "s05c-2");
    EXPECT_EQ(BaseName(15, 10, 2012), "s15a12");
}

TEST(ScanNumberFromPath, FileNamesFirstDotThenItsLastDot) {
    const struct {
        const char* path;
        char separator;
        int expected;
    } cases[] = {
        {"D:\\obs\\sun.05p", '\\', 5},
        {"D:\\data.2\\sun.07p", '\\', 7},      // a dot in a folder name plays no part
        {"./obs/sun.05p", '/', 5},
        {"D:\\obs.x\\sun.07p", '\\', 7},
        {"/data/obs.x/sun.5.07p", '/', 5},     // the file name's first dot
        {"/data/sun.x.07p", '/', 7},           // no number there: the file name's last dot
        {"/data/obs.x/sun", '/', 0},           // the file name has no dot
        {"/data/a.x/b.5/sun", '/', 0},         // dots in folders only
        {"sunp", '/', 0},
        {"sun. 7p", '/', 7},                   // white space before the number
        {"sun.\t-3p", '/', -3},
        {"sun.+4p", '/', 4},
        {"sun.- 4p", '/', 0},
        {"sun.123", '/', 123},
        {"sun.99999999999999999999p", '/', std::numeric_limits<int>::max()},
        {"sun.-99999999999999999999p", '/', std::numeric_limits<int>::min()},
        {"sun.-2147483648p", '/', std::numeric_limits<int>::min()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScanNumberFromPath(c.path, c.separator), c.expected) << c.path;
}

TEST(SampleFilePath, BesideTheHeader) {
    EXPECT_EQ(SampleFilePath("obs", true, SampleFileKind::Al, 0), std::string("obs") + kFolderSeparator + "al0");
    EXPECT_EQ(SampleFilePath("", true, SampleFileKind::Ar, 12), std::string(1, kFolderSeparator) + "ar12");
    EXPECT_EQ(SampleFilePath("", false, SampleFileKind::Ar, 63), "ar63");
}

// ---- The channel loop in-process ----

const char* const kTable = "20 2 10000 10\n10 4 12000 20\n5 8 14000 40\n";

// A recording in a temporary folder, converted through the conversion entry
// with its table; its pointing gives the cards of kPointing.
class ChannelLoop : public ::testing::Test {
protected:
    void SetUp() override {
        header_ = CardHeader();
        header_.setup.objectName = "Sun";
        header_.setup.calibrationLevels[1] = 100;
        header_.setup.calibrationLevels[9] = 223;
        header_.pointing.azimuthDms = {10, 30, 0.0f};
        header_.pointing.altitudeDms = {45, 15, 0.0f};
        header_.receiver.angleP = 12.5f;
        header_.receiver.samplingFactor1 = 10;
        header_.receiver.samplingFactor2 = 99;
        fs::create_directory(out());
        WriteFileBytes(folder_ / "vm-fits.cfg", std::string(kTable));
    }

    std::string out() const { return folder_ / "out"; }

    bool Convert(int32_t repairMode, const std::string& headerName = "sun.05h") {
        WriteFileBytes(folder_ / headerName, EncodeObservationHeader(header_));
        ConversionRequest request;
        request.headerPath = folder_ / headerName;
        request.outputFolder = out();
        request.repairMode = repairMode;
        request.calibrationTablePath = folder_ / "vm-fits.cfg";
        StatusSink sink;
        sink.status = [this](const std::string& text) { status_.push_back(text); };
        result_ = ConvertRecording(request, sink);
        return result_.exitCode == kExitConverted;
    }

    void AddChannel(int c, double frequency, const std::vector<float>& al, const std::vector<float>& ar) {
        header_.setup.channelEnabled[c] = 1;
        header_.setup.calibrationIndex[c] = 1;
        header_.receiver.channelFrequency[c] = frequency;
        WriteFileBytes(folder_ / ("al" + std::to_string(c)), FloatBytes(al));
        WriteFileBytes(folder_ / ("ar" + std::to_string(c)), FloatBytes(ar));
    }

    std::vector<std::string> OutputNames() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempFolder folder_;
    ObservationHeader header_;
    ConversionResult result_;
    std::vector<std::string> status_;
};

TEST_F(ChannelLoop, WithoutRepairWritesTheWholeScanFileAndIndex) {
    AddChannel(7, 15.0, {30000, 2.7f, -2.7f, -30000}, {5, 5, 5, 5, 5});
    EXPECT_TRUE(Convert(0));  // no marker file needed
    EXPECT_EQ(result_.loop.plan.markerPath, folder_ / "sun.05p");
    ASSERT_EQ(OutputNames(), (std::vector<std::string>{"s05b03_05z.001", "s05b03_05z.0hd"}));
    EXPECT_EQ(ReadFileBytes(out() + kFolderSeparator + "s05b03_05z.0hd"),
              "s05b03_05z.001\t15.000[GHz]\r\n");
    const std::string expected =
        "SIMPLE  =              F\t/ FILE DOES NOT CONFORM TO FITS STANDARD\r\n"
        "BITPIX  =             16\t/ INTEGER WITH '(I2)' FORMAT\r\n"
        "NAXIS   =              1\t/ NUMBER OF DATA AXES\r\n"
        "NAXIS1  =              4\t/ LENGTH OF DATA AXIS 1\r\n"
        "PMCSUN  =      -395.5000\t/ POST MERIDIUM CENTER \r\n"
        "DATE-OBS= ' 5/11/2003'\t/ \r\n"
        "TIME-OBS= '09:05:07.250'\t/ UT \r\n"
        "OBJECT  = 'Sun'\t/ \r\n"
        "TELESCOP= 'KAVOR-350'\t/ \r\n"
        "ORIGIN  = 'DORNIKA'\t/ \r\n"
        "RADIUS  =            961\t/ OPTICAL SOLAR RADIUS (ARCSECOND) \r\n"
        "AZIMUTH =   10.500000000\t/ Azimuth of observ. \r\n"
        "ALTITUDE=   45.250000000\t/ Altitude of source \r\n"
        "ANGLE   =   12.500000000\t/ Angle of decl. \r\n"
        "CDELT1  =         0.0996\t/ ARCSEC\t\r\n"
        "N_POLAR =              2\t/ NUMBER OF POLARIZATIONS [1 or 2]\r\n"
        "CALIBR  =              0\t/ FLAG OF CALIBRATION [ 0-NO 1-YES ] \r\n"
        "TCALIBR =        12.3000\t/ T OF CALIBRATION \r\n"
        "FLAG_IV =              1\t/ IF 1 => R,L; IF 0 => I,V \r\n"
        "COMMENT  TQSUN - TEMPERATURE OF A SURFACE OF THE QUIET SUN AGREED WITH THE \r\n"
        "COMMENT   FORM OF THE DIAGRAM OF A ANTENNA AND KOEF. OF TRANSITION TO FLUX \r\n"
        "END\r\n"
        "OBS-FREQ=         15.000\t/ GHz \r\n"
        "THETA-DG=          15.00\t/ DIMENSION OF DIAGRAMM (ARCSECOND) \r\n"
        "TQSUN   =          11000\t/ Ta[K] \r\n"
        "FLUX_L  =          3.000\t/ KOEF. Ta[K] -> FLUX[S.F.U.] \r\n"
        "END\r\n"
        "POLARIZ =              1\t/ IF 1 - (R or R+L), IF 0- (L or R_L)\r\n"
        "BSCALE  =   1.000000e+00\t/ \r\n"
        "BZERO   =   0.000000e+00\t/ \r\n"
        "END\r\n" +
        Bytes({0xD0, 0x8A, 0xFE, 0xFF, 0x02, 0x00, 0x30, 0x75}) +
        "\r\n"
        "POLARIZ =              0\t/ IF 1 - (R or R+L), IF 0- (L or R_L)\r\n"
        "BSCALE  =   0.000000e+00\t/ \r\n"
        "BZERO   =   5.000000e+00\t/ \r\n"
        "END\r\n" +
        Bytes({0, 0, 0, 0, 0, 0, 0, 0}) + "\r\n";
    EXPECT_EQ(ReadFileBytes(out() + kFolderSeparator + "s05b03_05z.001"), expected);
}

TEST_F(ChannelLoop, MissingMarkerFileWritesNothingAndFails) {
    AddChannel(0, 15.0, {1, 2}, {1, 2});
    EXPECT_FALSE(Convert(kTwoSidedExtrapolation));
    EXPECT_EQ(status_, std::vector<std::string>{"Can't open " + (folder_ / "sun.05p")});
    EXPECT_TRUE(OutputNames().empty());
}

TEST_F(ChannelLoop, IndexThatCannotBeCreatedFails) {
    AddChannel(0, 15.0, {1, 2}, {1, 2});
    WriteFileBytes(folder_ / "sun.05p", std::string());
    fs::create_directory(out() + kFolderSeparator + "s05b03_05z.0hd");  // a folder in its place
    EXPECT_FALSE(Convert(kTwoSidedExtrapolation));
    ASSERT_EQ(status_.size(), 1u);
    EXPECT_EQ(status_[0].rfind("Can't open " + out() + kFolderSeparator + "s05b03_05z.0hd: ", 0), 0u) << status_[0];
    EXPECT_EQ(OutputNames(), std::vector<std::string>{"s05b03_05z.0hd"});
}

TEST_F(ChannelLoop, ScanNumberFromTheFileNameWhenTheFirstDotHasNone) {
    fs::create_directory(folder_ / "obs.x");
    EXPECT_TRUE(Convert(0, std::string("obs.x") + kFolderSeparator + "sun.17h"));
    EXPECT_EQ(OutputNames(), (std::vector<std::string>{"s05b03_17z.0hd"}));
    EXPECT_EQ(ReadFileBytes(out() + kFolderSeparator + "s05b03_17z.0hd"), "");
}

// Sample files of 32768 bytes and more are read whole.
TEST_F(ChannelLoop, LongSampleFilesAreReadWhole) {
    const int n = 9000;  // 36000 bytes
    std::vector<float> al(n), ar(n);
    for (int i = 0; i < n; ++i) {
        al[i] = static_cast<float>((i * 37) % 60001 - 30000);
        ar[i] = static_cast<float>(30000 - (i * 11) % 60001);
    }
    al[0] = 30000;
    al[1] = -30000;
    ar[n - 1] = -30000;
    AddChannel(0, 12.5, al, ar);
    EXPECT_TRUE(Convert(0));
    const std::string bytes = ReadFileBytes(out() + kFolderSeparator + "s05b03_05z.001");
    EXPECT_NE(bytes.find("NAXIS1  =           9000\t"), std::string::npos);
    const std::string leftHead = "BZERO   =   0.000000e+00\t/ \r\nEND\r\n";
    const std::size_t left = bytes.find(leftHead);
    ASSERT_NE(left, std::string::npos);
    std::vector<int16_t> leftValues(al.rbegin(), al.rend()), rightValues(ar.rbegin(), ar.rend());
    EXPECT_EQ(bytes.substr(left + leftHead.size(), 2 * n), Int16Bytes(leftValues));
    const std::size_t right = bytes.find(leftHead, left + leftHead.size() + 2 * n);
    ASSERT_NE(right, std::string::npos);
    EXPECT_EQ(bytes.substr(right + leftHead.size()), Int16Bytes(rightValues) + "\r\n");
    EXPECT_EQ(ReadFileBytes(out() + kFolderSeparator + "s05b03_05z.0hd"),
              "s05b03_05z.001\t12.500[GHz]\r\n");
}

// A marker file of 32768 bytes and more is read whole: the one marker of the
// channel stands after 9000 ignored pairs. Raw samples after position 8 are
// twice the level of those before it; the repair halves them.
TEST_F(ChannelLoop, LongMarkerFilesAreReadWhole) {
    std::vector<int16_t> markers;
    for (int k = 0; k < 9000; ++k) {
        markers.push_back(k % 2 == 0 ? -1 : 0);
        markers.push_back(8);  // would select calibration index 1
    }
    markers.push_back(8);
    markers.push_back(8 * 1 + 5);
    WriteFileBytes(folder_ / "sun.05p", Int16Bytes(markers));
    std::vector<float> raw(21);
    for (int i = 0; i < 21; ++i) raw[i] = 3000.0f * static_cast<float>(i - 10) * (i > 8 ? 2 : 1);
    raw[8] = 777;
    AddChannel(0, 15.0, raw, raw);
    for (int32_t mode : {kTwoSidedExtrapolation, kBackExtrapolation}) {
        EXPECT_TRUE(Convert(mode)) << mode;
        const std::string bytes = ReadFileBytes(out() + kFolderSeparator + "s05b03_05z.001");
        std::vector<int16_t> repaired;
        for (int i = 20; i >= 0; --i) repaired.push_back(static_cast<int16_t>(3000 * (i - 10)));
        const std::string block = "BSCALE  =   1.000000e+00\t/ \r\nBZERO   =   0.000000e+00\t/ \r\nEND\r\n" +
                                  Int16Bytes(repaired) + "\r\n";
        const std::size_t first = bytes.find(block);
        ASSERT_NE(first, std::string::npos) << mode;
        EXPECT_NE(bytes.find(block, first + 1), std::string::npos) << mode;
    }
}

}  // namespace
