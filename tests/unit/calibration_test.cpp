#include "inputs/calibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/platform.h"
#include "support/test_support.h"

namespace {

struct Values {
    float fluxFactor = 0.0f;
    int16_t quietSunTemperature = 0;
    float beamWidth = 0.0f;
    bool operator==(const Values& other) const {
        return fluxFactor == other.fluxFactor && quietSunTemperature == other.quietSunTemperature &&
               beamWidth == other.beamWidth;
    }
};

const Values kNone{};

std::ostream& operator<<(std::ostream& out, const Values& v) {
    return out << "{" << v.fluxFactor << ", " << v.quietSunTemperature << ", " << v.beamWidth << "}";
}

Values Lookup(const std::string& folder, float frequency) {
    Values v;  // all zero, as the caller sets them
    LookupCalibration(folder, frequency, v.fluxFactor, v.quietSunTemperature, v.beamWidth);
    return v;
}

Values LookupIn(const std::string& table, float frequency) {
    TempFolder folder;
    WriteFileBytes(folder / "vm-fits.cfg", table);
    return Lookup(folder.path(), frequency);
}

const std::string kRow1 = "20.0 2.0 10000 10";
const std::string kRow2 = "10.0 4.0 12000 20";
const std::string kRow3 = "5.0 8.0 14000 40";

std::string Padded(const std::string& text, std::size_t length) {
    return text + std::string(length - text.size(), ' ');
}

TEST(LookupCalibration, InterpolatesTheThreeRowTableWhateverTheLineLayout) {
    struct Layout {
        const char* name;
        std::string table;
    };
    const Layout layouts[] = {
        {"plain", kRow1 + "\n" + kRow2 + "\n" + kRow3 + "\n"},
        {"blank line between rows", kRow1 + "\n\n" + kRow2 + "\n" + kRow3 + "\n"},
        {"letter line between rows", kRow1 + "\nGHz flux T beam\n" + kRow2 + "\n" + kRow3 + "\n"},
        {"no final line break", kRow1 + "\n" + kRow2 + "\n" + kRow3},
        {"CR LF line ends", kRow1 + "\r\n" + kRow2 + "\r\n" + kRow3 + "\r\n"},
        {"tabs and extra blanks", "  20.0\t2.0  10000\t10 \n" + kRow2 + "\n" + kRow3 + "\n"},
        {"Ctrl-Z ends the text", kRow1 + "\n" + kRow2 + "\n" + kRow3 + "\n\x1a" + "1 1 1 1\n"},
        // 126 characters are one row: the rest of the line is the next row.
        {"line longer than 126 characters", Padded(kRow1, 126) + kRow2 + "\n" + kRow3 + "\n"},
        {"125 characters and CR LF", Padded(kRow1, 125) + "\r\n" + kRow2 + "\r\n" + kRow3},
        {"line of 126 characters and a line feed", Padded(kRow1, 126) + "\n" + kRow2 + "\n" + kRow3},
    };
    struct Expectation {
        float frequency;
        Values values;
    };
    const Expectation expectations[] = {
        {15.0f, {3.0f, 11000, 15.0f}},
        {20.0f, {2.0f, 10000, 10.0f}},  // equal to a row: that row exactly
        {25.0f, {2.5f, 12500, 12.5f}},  // above the first row: scaled through zero
        {7.5f, {6.0f, 13000, 30.0f}},
        {10.0f, {4.0f, 12000, 20.0f}},
        {5.0f, kNone},  // equal to the last row
        {4.0f, kNone},  // below the last row
    };
    for (const Layout& layout : layouts) {
        TempFolder folder;
        WriteFileBytes(folder / "vm-fits.cfg", layout.table);
        for (const Expectation& e : expectations) {
            EXPECT_EQ(Lookup(folder.path(), e.frequency), e.values)
                << layout.name << ", frequency " << e.frequency;
        }
    }
}

TEST(LookupCalibration, LineSplitAt126CharactersIsTwoRows) {
    // The first 126 characters end inside "10.0": that row is the first table
    // row, and the next row begins ".0 4.0 ...", a row at frequency 0.
    const std::string table = Padded(kRow1, 124) + kRow2 + "\n";
    EXPECT_EQ(LookupIn(table, 15.0f), (Values{2.5f, 10500, 12.5f}));
}

TEST(LookupCalibration, ColumnsNotReadKeepThePreviousRowsValues) {
    // The second line holds only a frequency and a flux factor.
    const std::string table = kRow1 + "\n10.0 4.0\n" + kRow3 + "\n";
    EXPECT_EQ(LookupIn(table, 15.0f), (Values{3.0f, 10000, 10.0f}));
    EXPECT_EQ(LookupIn(table, 7.5f), (Values{6.0f, 12000, 25.0f}));
}

TEST(LookupCalibration, TemperatureIsTruncatedTowardZero) {
    EXPECT_EQ(LookupIn("20 1 12345.9 1\n10 1 0 1\n", 20.0f), (Values{1.0f, 12345, 1.0f}));
    EXPECT_EQ(LookupIn("20 1 -7.9 1\n10 1 0 1\n", 20.0f), (Values{1.0f, -7, 1.0f}));
    EXPECT_EQ(LookupIn("20 1 32767.9 1\n10 1 0 1\n", 20.0f), (Values{1.0f, 32767, 1.0f}));
    EXPECT_EQ(LookupIn("20 1 -32768.9 1\n10 1 0 1\n", 20.0f), (Values{1.0f, -32768, 1.0f}));
}

TEST(LookupCalibration, RisingTableScalesTheFirstRowOrYieldsNothing) {
    const std::string table = kRow3 + "\n" + kRow2 + "\n" + kRow1 + "\n";
    EXPECT_EQ(LookupIn(table, 6.0f), (Values{9.6f, 16800, 48.0f}));
    EXPECT_EQ(LookupIn(table, 5.0f), kNone);
    EXPECT_EQ(LookupIn(table, 4.0f), kNone);
}

TEST(LookupCalibration, YieldsNothingWhereTheValuesWouldBeUnsound) {
    struct Case {
        const char* name;
        std::string table;
        float frequency;
        Values expected;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {"first row at frequency 0", "0 1 2 3\n", 5.0f, kNone},
        {"empty table", "", 5.0f, kNone},
        {"first line without numbers", "flux table\n" + kRow1 + "\n", 25.0f, kNone},
        {"first row lacks columns: zeros", "20 2\n" + kRow2 + "\n", 15.0f, {3.0f, 6000, 10.0f}},
        {"temperature beyond 32767", "20 1 30000 1\n10 1 40000 1\n", 12.0f, kNone},
        {"temperature of 32768", "20 1 32768 1\n10 1 0 1\n", 20.0f, kNone},
        {"temperature below -32768", "20 1 -32769 1\n10 1 0 1\n", 20.0f, kNone},
        {"scaled above the first row beyond 16 bits", kRow3 + "\n" + kRow2 + "\n", 15.0f, kNone},
        {"infinite flux factor", "20 inf 10000 10\n" + kRow2 + "\n", 15.0f, kNone},
        {"not-a-number beam width", kRow1 + "\n10 4 12000 nan\n", 15.0f, kNone},
        {"infinite row frequency", "inf 1 1 1\n" + kRow2 + "\n", 15.0f, kNone},
        {"requested frequency infinite", kRow1 + "\n" + kRow2 + "\n", inf, kNone},
        {"requested frequency not a number", kRow1 + "\n" + kRow2 + "\n",
         std::numeric_limits<float>::quiet_NaN(), kNone},
        {"flux factor beyond the float range", "1 3e38 1 1\n", 3.0f, kNone},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LookupIn(c.table, c.frequency), c.expected) << c.name;
    }
}

TEST(LookupCalibration, MissingTableLeavesTheOutputsAsTheyWere) {
    TempFolder folder;
    float flux = 7.0f, beam = 8.0f;
    int16_t temperature = 9;
    LookupCalibration(folder.path(), 15.0f, flux, temperature, beam);
    EXPECT_EQ(flux, 7.0f);
    EXPECT_EQ(temperature, 9);
    EXPECT_EQ(beam, 8.0f);
    // An unsound result also leaves them alone.
    WriteFileBytes(folder / "vm-fits.cfg", "0 1 2 3\n");
    LookupCalibration(folder.path(), 15.0f, flux, temperature, beam);
    EXPECT_EQ(flux, 7.0f);
    EXPECT_EQ(temperature, 9);
    EXPECT_EQ(beam, 8.0f);
}

// A folder where the table belongs opens on Linux but cannot be read: no
// table, as on Windows.
TEST(LookupCalibration, TableThatIsAFolderCannotBeRead) {
    TempFolder folder;
    ASSERT_TRUE(PlatformCreateFolder(CalibrationTablePath(folder.path())));
    for (const float frequency : {15.0f, 0.0f, -3.0f}) {
        EXPECT_EQ(FindCalibration(CalibrationTablePath(folder.path()), frequency).result,
                  CalibrationResult::TableUnreadable)
            << frequency;
    }
}

TEST(LookupCalibration, ReadsTheTableBesideALongFolderPath) {
    TempFolder base;
    const std::string folder = base / std::string(140, 'f');
    ASSERT_TRUE(PlatformCreateFolder(folder));
    EXPECT_GT(CalibrationTablePath(folder).size(), 127u);
    WriteFileBytes(CalibrationTablePath(folder), kRow1 + "\n" + kRow2 + "\n");
    EXPECT_EQ(Lookup(folder, 15.0f), (Values{3.0f, 11000, 15.0f}));
}

TEST(LookupCalibration, InterpolatesInExtendedPrecision) {
    // t = (f - 12) / (2.89393568 - 12) rounds to 8636355 * 2^-36. Flux factor:
    // 1.00000012 + (0.999525845 - 1.00000012) * t = 1 + 2^-24 + 2^-60 exactly,
    // kept in extended precision and rounded to 0x1.000002p+0; in double it
    // rounds to the midpoint 1 + 2^-24 and then to 1.0. Temperature:
    // 12345.999 + 7.7705078125 * t = 12346 - 2^-46, truncated to 12345; in
    // double it rounds to 12346.
    const std::string table =
        "12 1.00000012 12345.999 10\n"
        "2.89393568 0.999525845 12353.7695 20\n";
    EXPECT_EQ(LookupIn(table, 0x1.7ff6ap+3f), (Values{0x1.000002p+0f, 12345, 0x1.400a4cp+3f}));
}

}  // namespace
