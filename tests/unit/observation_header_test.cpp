#include "inputs/observation_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"
#include "support/test_support.h"

namespace {

void PutI16(std::vector<uint8_t>& b, std::size_t at, int16_t v) {
    b[at] = static_cast<uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF);
}
void PutF32(std::vector<uint8_t>& b, std::size_t at, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(bits >> (8 * i));
}
void PutF64(std::vector<uint8_t>& b, std::size_t at, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(bits >> (8 * i));
}

// A header image with a distinctive value in every field, placed by hand at
// the field's file offset (independently of the reader's own offset table).
std::vector<uint8_t> HandMadeHeader() {
    std::vector<uint8_t> b(kObservationHeaderSize, 0);
    for (std::size_t i = 0; i < 32; ++i) b[i] = 0xEE;  // reserved bytes are not read
    PutI16(b, 32, 2003);
    PutI16(b, 34, 11);
    PutI16(b, 36, 5);
    std::memcpy(&b[38], "SUN A15", 7);
    for (int i = 0; i < 66; ++i) PutI16(b, 126 + 2 * i, static_cast<int16_t>(100 * i - 3000));
    for (int c = 0; c < 64; ++c) {
        b[258 + c] = static_cast<uint8_t>(c % 3 == 0 ? 0 : (c % 3 == 1 ? 1 : 255));
        PutI16(b, 322 + 2 * c, static_cast<int16_t>(c - 5));
        PutF64(b, 450 + 8 * c, 1.0 + c * 0.25);
    }
    for (std::size_t i = 962; i < 1276; ++i) b[i] = 0xEE;
    PutI16(b, 1276, 10);
    PutI16(b, 1278, -99);
    PutF32(b, 1286, -12.5f);
    PutF32(b, 1290, 400.5f);
    PutI16(b, 1414, 15);
    PutI16(b, 1416, 30);
    PutF32(b, 1418, 7.25f);
    PutI16(b, 1422, 9);
    PutI16(b, 1424, 5);
    PutF32(b, 1426, 7.25f);
    PutI16(b, 1438, -1);
    PutI16(b, 1440, -30);
    PutF32(b, 1442, 1.5f);
    PutI16(b, 1454, 23);
    PutI16(b, 1456, 26);
    PutF32(b, 1458, 21.0f);
    PutI16(b, 1466, 968);
    for (std::size_t i = 1468; i < kObservationHeaderSize; ++i) b[i] = 0xEE;
    return b;
}

void ExpectHandMadeFields(const ObservationHeader& h) {
    EXPECT_EQ(h.setup.year, 2003);
    EXPECT_EQ(h.setup.month, 11);
    EXPECT_EQ(h.setup.day, 5);
    EXPECT_EQ(h.setup.objectName, "SUN A15");
    EXPECT_EQ(h.setup.calibrationLevels[0], -3000);
    EXPECT_EQ(h.setup.calibrationLevels[65], 3500);
    EXPECT_EQ(h.setup.channelEnabled[0], 0);
    EXPECT_EQ(h.setup.channelEnabled[1], 1);
    EXPECT_EQ(h.setup.channelEnabled[2], 255);
    EXPECT_EQ(h.setup.calibrationIndex[0], -5);
    EXPECT_EQ(h.setup.calibrationIndex[63], 58);
    EXPECT_EQ(h.receiver.channelFrequency[0], 1.0);
    EXPECT_EQ(h.receiver.channelFrequency[63], 16.75);
    EXPECT_EQ(h.receiver.samplingFactor1, 10);
    EXPECT_EQ(h.receiver.samplingFactor2, -99);
    EXPECT_EQ(h.receiver.angleP, -12.5f);
    EXPECT_EQ(h.receiver.pmc, 400.5f);
    EXPECT_EQ(h.pointing.azimuthDms.degrees, 15);
    EXPECT_EQ(h.pointing.azimuthDms.minutes, 30);
    EXPECT_EQ(h.pointing.azimuthDms.seconds, 7.25f);
    EXPECT_EQ(h.pointing.observationTime.hour, 9);
    EXPECT_EQ(h.pointing.observationTime.minute, 5);
    EXPECT_EQ(h.pointing.observationTime.second, 7.25f);
    EXPECT_EQ(h.pointing.altitudeDms.degrees, -1);
    EXPECT_EQ(h.pointing.altitudeDms.minutes, -30);
    EXPECT_EQ(h.pointing.altitudeDms.seconds, 1.5f);
    EXPECT_EQ(h.pointing.declinationDms.degrees, 23);
    EXPECT_EQ(h.pointing.declinationDms.minutes, 26);
    EXPECT_EQ(h.pointing.declinationDms.seconds, 21.0f);
    EXPECT_EQ(h.pointing.solarRadius, 968);
}

TEST(ReadObservationHeader, ExactAndLongerFilesGiveTheSameHeader) {
    TempFolder folder;
    std::vector<uint8_t> bytes = HandMadeHeader();
    WriteFileBytes(folder / "exact.05h", bytes);
    bytes.insert(bytes.end(), 300, 0x5A);
    WriteFileBytes(folder / "longer.05h", bytes);

    for (const char* name : {"exact.05h", "longer.05h"}) {
        ObservationHeader h;
        ASSERT_TRUE(ReadObservationHeader(folder / name, h)) << name;
        ExpectHandMadeFields(h);
    }
}

TEST(ReadObservationHeader, ShortFileLeavesTheRestZero) {
    TempFolder folder;
    std::vector<uint8_t> bytes = HandMadeHeader();
    // Channel 6's frequency has distinctive low bytes: only the first two reach the reader.
    PutF64(bytes, 450 + 8 * 6, 0x1.23456789abcdep+3);
    bytes.resize(500);
    WriteFileBytes(folder / "short.05h", bytes);

    ObservationHeader h;
    ASSERT_TRUE(ReadObservationHeader(folder / "short.05h", h));
    EXPECT_EQ(h.setup.year, 2003);
    EXPECT_EQ(h.setup.calibrationIndex[63], 58);  // the SetupBlock is complete
    for (int c = 0; c < 6; ++c) EXPECT_EQ(h.receiver.channelFrequency[c], 1.0 + c * 0.25);
    std::vector<uint8_t> expected6(8, 0);
    expected6[0] = bytes[498];
    expected6[1] = bytes[499];
    double partial;
    std::memcpy(&partial, expected6.data(), 8);
    EXPECT_EQ(std::memcmp(&h.receiver.channelFrequency[6], &partial, 8), 0);
    EXPECT_NE(partial, 0.0);
    for (int c = 7; c < 64; ++c) EXPECT_EQ(h.receiver.channelFrequency[c], 0.0);
    EXPECT_EQ(h.receiver.pmc, 0.0f);
    EXPECT_EQ(h.pointing.solarRadius, 0);
    EXPECT_EQ(h.pointing.declinationDms.degrees, 0);
}

TEST(ReadObservationHeader, EmptyFileGivesAnAllZeroHeader) {
    TempFolder folder;
    WriteFileBytes(folder / "empty.05h", std::string());
    ObservationHeader h;
    h.setup.year = 1999;  // overwritten by the read
    ASSERT_TRUE(ReadObservationHeader(folder / "empty.05h", h));
    EXPECT_EQ(EncodeObservationHeader(h), std::vector<uint8_t>(kObservationHeaderSize, 0));
    EXPECT_TRUE(h.setup.objectName.empty());
}

TEST(ReadObservationHeader, MissingFileIsReportedAndLeavesTheHeader) {
    TempFolder folder;
    ObservationHeader h;
    h.setup.year = 1999;
    EXPECT_FALSE(ReadObservationHeader(folder / "none.05h", h));
    EXPECT_EQ(h.setup.year, 1999);
}

// A folder opens for reading on Linux but holds no bytes: it is no header, as
// on Windows, where it does not open at all.
TEST(ReadObservationHeader, FolderIsNotAHeader) {
    TempFolder folder;
    ASSERT_TRUE(PlatformCreateFolder(folder / "sun.05h"));
    ObservationHeader h;
    h.setup.year = 1999;
    EXPECT_FALSE(ReadObservationHeader(folder / "sun.05h", h));
    EXPECT_EQ(h.setup.year, 1999);
}

TEST(DecodeObservationHeader, ObjectNameWithoutZeroByteIsTakenWhole) {
    std::vector<uint8_t> bytes(kObservationHeaderSize, 0);
    for (std::size_t i = 0; i < kObjectNameSize; ++i) bytes[38 + i] = static_cast<uint8_t>('a' + i % 26);
    bytes[126] = 'X';  // first byte after the field is not part of the name
    const ObservationHeader h = DecodeObservationHeader(bytes);
    ASSERT_EQ(h.setup.objectName.size(), kObjectNameSize);
    EXPECT_EQ(h.setup.objectName.back(), static_cast<char>('a' + 87 % 26));
}

TEST(EncodeObservationHeader, RoundTripsEveryField) {
    const std::vector<uint8_t> hand = HandMadeHeader();
    const ObservationHeader h = DecodeObservationHeader(hand);
    const std::vector<uint8_t> encoded = EncodeObservationHeader(h);
    // Reserved bytes come out zero; every field comes out where it was.
    std::vector<uint8_t> expected = hand;
    for (std::size_t i = 0; i < 32; ++i) expected[i] = 0;
    for (std::size_t i = 962; i < 1276; ++i) expected[i] = 0;
    for (std::size_t i = 1468; i < kObservationHeaderSize; ++i) expected[i] = 0;
    EXPECT_EQ(encoded, expected);
}

}  // namespace
