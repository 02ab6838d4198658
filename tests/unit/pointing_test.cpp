#include "convert/pointing.h"

#include "output/scan_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace {

uint32_t Bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

struct DegreesCase {
    int16_t degrees;
    int16_t minutes;
    float seconds;
    float expected;
};

TEST(DecimalDegrees, OnlyTheDegreesDecideTheSign) {
    const DegreesCase cases[] = {
        {5, 30, 0.0f, 5.5f},
        {-5, 30, 0.0f, -5.5f},
        {0, 30, 0.0f, -0.5f},
        {0, 0, 36.0f, -0.01f},
        {0, 0, 0.0f, 0.0f},
        {-1, -30, 0.0f, -0.5f},
        {-23, -26, -21.4f, -0x1.68f8b8p+4f},  // negative minutes and seconds: -22.56...
        // The fraction (42 + 6.22 / 60) / 60 is 0x1.6748dep-1 in extended
        // precision; in double it would be 0x1.6748dcp-1 (in float 0x1.6748e0p-1).
        {0, 42, 6.22f, -0x1.6748dep-1f},
        // 1 + that fraction: 0x1.b3a470p+0 (double evaluation: 0x1.b3a46ep+0).
        {1, 42, 6.22f, 0x1.b3a470p+0f},
    };
    for (const DegreesCase& c : cases) {
        const float result = DecimalDegrees(c.degrees, c.minutes, c.seconds);
        EXPECT_EQ(Bits(result), Bits(c.expected))
            << c.degrees << " " << c.minutes << " " << c.seconds << " gave " << result;
    }
}

ObservationHeader HeaderWith(int16_t year, int16_t month, int16_t factor1, int16_t factor2,
                             DmsAngle declination) {
    ObservationHeader header;
    header.setup.year = year;
    header.setup.month = month;
    header.setup.day = 5;
    header.receiver.samplingFactor1 = factor1;
    header.receiver.samplingFactor2 = factor2;
    header.pointing.declinationDms = declination;
    return header;
}

struct StepCase {
    const char* name;
    int16_t year;
    int16_t month;
    int16_t factor1;
    int16_t factor2;
    DmsAngle declination;
    float expected;
};

TEST(DerivePointingValues, StepByClockFrequencyAndDeclination) {
    const DmsAngle zero{0, 0, 0.0f};
    const DmsAngle sunMax{23, 26, 21.4f};
    const StepCase cases[] = {
        {"before 1994 the divisor is 1", 1990, 6, 3, 5, zero, 1800.0f},
        {"1994-9: 118800 / 1193180", 1994, 9, 10, 99, zero, 0x1.97d260p-4f},
        {"month 0 counts as below 10", 1994, 0, 10, 99, zero, 0x1.97d260p-4f},
        {"1994-10 is fixed at 1", 1994, 10, 10, 99, sunMax, 1.0f},
        {"1994-10 even without factors", 1994, 10, 0, 0, zero, 1.0f},
        {"1994-11: 118800 / 1192760", 1994, 11, 10, 99, zero, 0x1.97f724p-4f},
        {"later years: 1192760", 2003, 1, 10, 99, zero, 0x1.97f724p-4f},
        // 0x1.97f724p-4 * cos(23.43928 deg) = 0x1.764d0cp-4, with the angle
        // 0x1.a2e92a5ba8aabp-2 and its cosine 0x1.d5c03872700c4p-1 in double.
        {"declination 23 26 21.4", 2003, 11, 10, 99, sunMax, 0x1.764d0cp-4f},
        // cos(60 deg) with pi as a float is 0x1.fffffe4e6f746p-2, not 0.5.
        {"declination 60", 2003, 11, 10, 99, DmsAngle{60, 0, 0.0f}, 0x1.97f722p-5f},
        {"declination -90", 2003, 11, 10, 99, DmsAngle{-90, 0, 0.0f}, -0x1.2b2f02p-28f},
        // step 0x1.c6f178p-5 times the cosine 0x1.ffe8e5f18a9d8p-1 lies just off
        // a midpoint: the product rounded in extended precision gives
        // 0x1.c6dcf2p-5, rounded through double 0x1.c6dcf0p-5.
        {"declination 1 4 32.704", 2003, 11, 6, 92, DmsAngle{1, 4, 32.704f}, 0x1.c6dcf2p-5f},
        {"negative factor", 1990, 1, -3, 5, zero, -1800.0f},
        {"largest factors stay exact", 1990, 1, 32767, 32767, zero, 0x1.dff880p+36f},
        {"most negative factors", 1990, 1, -32768, -32768, zero, 0x1.ep+36f},
        {"most negative times largest", 2003, 11, -32768, 32767, zero, -0x1.a5f6a4p+16f},
        // The factors' product is an integer, and an integer zero has no sign.
        {"zero and a negative factor", 2003, 11, 0, -5, zero, 0.0f},
        {"a negative factor and zero", 1990, 1, -5, 0, zero, 0.0f},
        {"zero and a negative factor, 1994-9", 1994, 9, 0, -32768, sunMax, 0.0f},
        // The cosine keeps its sign: with pi as a float, -90 degrees lies just
        // past -pi/2, where the cosine is negative, and +0 times it is -0.
        {"zero factor, cosine below zero", 2003, 11, 0, 5, DmsAngle{-90, 0, 0.0f}, -0.0f},
    };
    for (const StepCase& c : cases) {
        const PointingValues values =
            DerivePointingValues(HeaderWith(c.year, c.month, c.factor1, c.factor2, c.declination));
        EXPECT_EQ(Bits(values.step), Bits(c.expected)) << c.name << ": " << values.step;
    }
}

TEST(DerivePointingValues, ZeroSamplingFactorPrintsAnUnsignedZeroStep) {
    // One factor 0 and the other negative: the CDELT1 card reads 0.0000, not -0.0000.
    for (const auto& factors : {std::pair<int16_t, int16_t>{0, -5}, {-32768, 0}, {0, 0}}) {
        ObservationHeader header =
            HeaderWith(2003, 11, factors.first, factors.second, DmsAngle{23, 26, 21.4f});
        PointingValues pointing = DerivePointingValues(header);
        ScanChannel channel;
        const std::string bytes = ScanFileBytes(header, pointing, 0, channel);
        EXPECT_NE(bytes.find("CDELT1  =         0.0000\t/ ARCSEC\t\r\n"), std::string::npos)
            << factors.first << " x " << factors.second;
    }
}

TEST(DerivePointingValues, TakesAzimuthAltitudeAndAngleFromTheHeader) {
    ObservationHeader header = HeaderWith(2003, 11, 1, 1, DmsAngle{0, 0, 0.0f});
    header.pointing.azimuthDms = DmsAngle{5, 30, 0.0f};
    header.pointing.altitudeDms = DmsAngle{0, 30, 0.0f};
    header.receiver.angleP = -12.75f;
    header.receiver.pmc = 400.5f;
    const PointingValues values = DerivePointingValues(header);
    EXPECT_EQ(values.azimuth, 5.5f);
    EXPECT_EQ(values.altitude, -0.5f);
    EXPECT_EQ(values.angleP, -12.75f);
    EXPECT_EQ(header.pointing.azimuthDms.degrees, 5);  // the header is left as it was
}

TEST(CosineOfAngle, GivesTheSameCorrectlyRoundedBitsOnEveryBuild) {
    struct Case {
        double angle;
        double expected;
    };
    const Case cases[] = {
        {0.0, 1.0},
        {-0.0, 1.0},
        {0.5, 0x1.c1528065b7d50p-1},
        {1.0, 0x1.14a280fb5068cp-1},
        {-2.0, -0x1.aa22657537205p-2},
        {3.0, -0x1.fae04be85e5d2p-1},
        {100.0, 0x1.b981dbf665fdfp-1},
        {1e6, 0x1.df9df9906d32cp-1},
        {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54},  // the double nearest pi/2
        // -90 degrees with pi as a float: the C library of the Windows build
        // gives -0x1.777a5cf72cffep-25 here.
        {-0x1.921fb6p+0, -0x1.777a5cf72ceccp-25},
        {0x1.93e5939a08ceap+99, -0x1.fffa4b11f1b45p-1},
        {0x1.2p126, -0x1.dbbdeb96f5e48p-1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Bits(CosineOfAngle(c.angle)), Bits(c.expected)) << std::hexfloat << c.angle;
    }
    EXPECT_TRUE(std::isnan(CosineOfAngle(std::numeric_limits<double>::infinity())));
    EXPECT_TRUE(std::isnan(CosineOfAngle(std::numeric_limits<double>::quiet_NaN())));
}

TEST(CosineOfAngle, AgreesWithTheLibraryCosineToRoundingError) {
    // The platform's cosine may be off by one unit in the last place itself,
    // so this only guards against gross errors in the reduction.
    for (int i = -3000; i <= 3000; ++i) {
        const double angle = i * 0.7312;
        const double expected = std::cos(angle);
        EXPECT_NEAR(CosineOfAngle(angle), expected, 2e-16) << angle;
    }
}

TEST(AzimuthFromObjectName, ReadsTheNumberAfterTheFirstCapitalA) {
    struct Case {
        const char* name;
        float expected;  // 99 means unchanged
    };
    const Case cases[] = {
        {"SUN A15", 15.0f},
        {"SUN A-20", -20.0f},
        {"SUN A 7", 7.0f},
        {"SUN A\t 12p", 12.0f},
        {"SUN A+5", 5.0f},
        {"SUN A7p3", 7.0f},
        {"AR 7321", 99.0f},
        {"NOAA 7321 A5", 99.0f},
        {"sun a15", 99.0f},
        {"no capital letter a here", 99.0f},
        {"", 99.0f},
        {"SUN A", 99.0f},
        {"SUN A-", 99.0f},
        {"SUN A- 5", 99.0f},
        // Longer than 24 characters: the whole name is searched.
        {"SOLAR ACTIVE REGION SCAN A30", 99.0f},  // the first A is followed by C
        {"solar active region scan no 1 A30", 30.0f},
        // Beyond the int range: the nearest int.
        {"SUN A99999999999999999999", 2147483648.0f},
        {"SUN A-99999999999999999999", -2147483648.0f},
        {"SUN A2147483647", 2147483648.0f},
    };
    for (const Case& c : cases) {
        float azimuth = 99.0f;
        AzimuthFromObjectName(c.name, azimuth);
        EXPECT_EQ(azimuth, c.expected) << '"' << c.name << '"';
    }
}

TEST(AzimuthFromObjectName, StopsAtTheFirstZeroByte) {
    float azimuth = 99.0f;
    AzimuthFromObjectName(std::string("SUN\0 A15", 8), azimuth);
    EXPECT_EQ(azimuth, 99.0f);
}

TEST(PostMeridianCentre, CountsFromTheEndOfTheReversedPoints) {
    EXPECT_EQ(PostMeridianCentre(1000, 400.5f), 600.5);
    EXPECT_EQ(PostMeridianCentre(1, 0.0f), 2.0);
    EXPECT_EQ(PostMeridianCentre(0, 0.1f), 1.0 - static_cast<double>(0.1f));
    EXPECT_EQ(PostMeridianCentre(std::numeric_limits<int32_t>::max(), 0.0f), 2147483648.0);
}

}  // namespace
