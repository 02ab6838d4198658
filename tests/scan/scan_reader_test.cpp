// The scan file and scan index reader: what the writer writes reads back
// whole, and every kind of damage is named.
#include <gtest/gtest.h>

#include <array>

#include "output/scan_reader.h"
#include "scan/scan_fixtures.h"

namespace {

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string ParseError(const std::string& bytes) {
    ScanFileContents scan;
    std::string error;
    EXPECT_FALSE(ParseScanFile(bytes, "x.001", scan, error));
    return error;
}

TEST(ScanReader, ReadsBackWhatTheWriterWrote) {
    const std::string bytes = MadeScanFile(4);
    ScanFileContents scan;
    std::string error;
    ASSERT_TRUE(ParseScanFile(bytes, "x.001", scan, error)) << error;
    EXPECT_EQ(scan.groups[kMainGroup].size(), 21u);
    EXPECT_EQ(scan.groups[kChannelGroup].size(), 4u);
    EXPECT_EQ(scan.groups[kFirstBlockGroup].size(), 3u);
    EXPECT_EQ(scan.groups[kSecondBlockGroup].size(), 3u);
    EXPECT_EQ(scan.groups[kMainGroup][0].text, "SIMPLE  =              F\t/ FILE DOES NOT CONFORM TO FITS STANDARD");
    EXPECT_EQ(scan.groups[kMainGroup][19].keyword, "COMMENT");
    EXPECT_EQ(scan.naxis1, 4);
    EXPECT_EQ(scan.pmcsun, -2.5);
    EXPECT_EQ(scan.dateObs, " 5/11/2003");
    EXPECT_EQ(scan.day, 5);
    EXPECT_EQ(scan.month, 11);
    EXPECT_EQ(scan.year, 2003);
    EXPECT_EQ(scan.timeObs, "09:05:07.250");
    EXPECT_EQ(scan.hour, 9);
    EXPECT_EQ(scan.minute, 5);
    EXPECT_EQ(scan.second, 7.25);
    EXPECT_EQ(scan.object, "SUN A15");
    EXPECT_EQ(scan.telescope, "KAVOR-350");
    EXPECT_EQ(scan.origin, "DORNIKA");
    EXPECT_EQ(scan.radius, 961);
    EXPECT_EQ(scan.azimuth, 15.0);  // from the object name
    EXPECT_EQ(scan.altitude, 45.25);
    EXPECT_EQ(scan.angle, 12.5);
    EXPECT_EQ(scan.cdelt1, 2.5);
    EXPECT_EQ(scan.nPolar, 2);
    EXPECT_EQ(scan.calibr, 0);
    EXPECT_EQ(scan.tcalibr, 12.3);
    EXPECT_EQ(scan.flagIv, 1);
    EXPECT_EQ(scan.obsFreq, 12.5);
    EXPECT_EQ(scan.thetaDg, 17.5);
    EXPECT_EQ(scan.tqsun, 11500);
    EXPECT_EQ(scan.fluxL, 3.5);
    EXPECT_EQ(scan.blocks[0].polariz, 1);
    EXPECT_EQ(scan.blocks[1].polariz, 0);
    // al: 0, 0.25, 1, 2.25 scaled and reversed; BZERO 1.125, BSCALE 3.75e-05.
    EXPECT_EQ(scan.blocks[0].bzero, 1.125);
    EXPECT_EQ(scan.blocks[0].bscale, 3.75e-05);
    EXPECT_EQ(scan.blocks[0].values, (std::vector<int16_t>{29999, -3333, -23333, -29999}));
    EXPECT_EQ(scan.blocks[1].values.size(), 4u);
    EXPECT_NEAR(PhysicalValue(scan.blocks[0], 29999), 2.25f, 3.8e-05);
    EXPECT_NEAR(PhysicalValue(scan.blocks[0], -29999), 0.0f, 3.8e-05);
    EXPECT_EQ(PlaceOffset(scan, 1), 8.75);  // 2.5 x (1 - -2.5)
}

// A quoted text runs to the quote before "\t/": the object name may hold
// quotes, a tab and even a line end.
TEST(ScanReader, ObjectNamesWithQuotesAndLineEnds) {
    for (const std::string name : {"it's 'A5'", "SUN\r\nA5", "tab\there", "", "\t/ like a comment", "ends'"}) {
        ScanFileContents scan;
        std::string error;
        ASSERT_TRUE(ParseScanFile(MadeScanFile(3, name), "x.001", scan, error)) << error;
        EXPECT_EQ(scan.object, name);
    }
}

TEST(ScanReader, NoPointsIsAScanFileToo) {
    ScanFileContents scan;
    std::string error;
    ASSERT_TRUE(ParseScanFile(MadeScanFile(0), "x.001", scan, error)) << error;
    EXPECT_EQ(scan.naxis1, 0);
    EXPECT_TRUE(scan.blocks[0].values.empty());
    EXPECT_TRUE(scan.blocks[1].values.empty());
}

TEST(ScanReader, NamesWhatIsWrong) {
    const std::string good = MadeScanFile(4);
    const std::size_t firstBlock = good.find("END\r\n", good.find("POLARIZ =")) + 5;
    const std::size_t secondGroup = good.find("POLARIZ =              0");
    const struct {
        std::string bytes;
        std::string message;
    } cases[] = {
        {"", "x.001: the file is empty"},
        {"hello", "x.001: not a scan file: it does not begin with a SIMPLE card"},
        {good.substr(0, 100), "x.001: cut short in the main header (no END card)"},
        {Replaced(good, "BITPIX  =             16", "BITPIX  =              8"),
         "x.001: BITPIX is 8; a scan file holds 16-bit values"},
        {Replaced(good, "NAXIS   =              1", "NAXIS   =              2"),
         "x.001: NAXIS is 2; a scan file has one data axis"},
        {Replaced(good, "NAXIS1  =              4", "NAXIS1  =             -4"),
         "x.001: NAXIS1 is -4, not a number of points"},
        {Replaced(good, "NAXIS1  =              4", "NAXIS1  =             4x"),
         "x.001: NAXIS1 in the main header is not a whole number: '4x'"},
        {Replaced(good, "NAXIS1  =              4", "NAXIS1  =   99999999999"),
         "x.001: NAXIS1 in the main header is not a whole number: '99999999999'"},
        {Replaced(good, "N_POLAR =              2", "N_POLAR =              1"),
         "x.001: N_POLAR is 1; a scan file holds two polarisations"},
        {Replaced(good, "TCALIBR = ", "TCALIBX = "), "x.001: no TCALIBR card in the main header"},
        {Replaced(good, "' 5/11/2003'", "' 5-11-2003'"),
         "x.001: DATE-OBS ' 5-11-2003' is not a day/month/year date"},
        {Replaced(good, "'09:05:07.250'", "'09:05'"),
         "x.001: TIME-OBS '09:05' is not an hours:minutes:seconds time"},
        {Replaced(good, "OBJECT  = 'SUN A15'", "OBJECT  = SUN"),
         "x.001: OBJECT in the main header is not a quoted text: 'SUN'"},
        {Replaced(good, "OBJECT  = 'SUN A15'", "OBJECT  = '"),
         // The quote before "\t/" of the next card closes it: that card
         // becomes part of the text.
         "x.001: no TELESCOP card in the main header"},
        {Replaced(good, "\r\nBITPIX", "\r\nGARBAGE\x01\r\nBITPIX"),
         "x.001: card 2 of the main header is not a KEYWORD = value card: 'GARBAGE\\x01'"},
        {Replaced(good, "TQSUN   = ", "TQSUN  = "), "x.001: card 3 of the channel group is not a KEYWORD = value card: 'TQSUN  =          11500\\x09/ Ta[K] '"},
        {Replaced(good, "TQSUN   = ", "TQSUNN  = "), "x.001: no TQSUN card in the channel group"},
        {good.substr(0, good.find("OBS-FREQ") + 20), "x.001: cut short in the channel group (no END card)"},
        {good.substr(0, firstBlock + 3), "x.001: the first data block is cut short: 3 of 8 bytes"},
        {good.substr(0, firstBlock + 8) + "\n\r" + good.substr(firstBlock + 10),
         "x.001: the first data block is not followed by CR LF"},
        {good.substr(0, secondGroup + 30), "x.001: cut short in the group of the second polarisation (no END card)"},
        {good.substr(0, secondGroup) + Replaced(good.substr(secondGroup), "BSCALE  = ", "BSCALE  = abc"),
         "x.001: BSCALE in the group of the second polarisation is not a number: 'abc  3.166667e-04'"},
        {good.substr(0, good.size() - 1), "x.001: the second data block is not followed by CR LF"},
        {good + "\r\n", "x.001: 2 bytes after the end of the second data block"},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseError(c.bytes), c.message);
}

TEST(ScanReader, EveryCardOfTheTableIsRead) {
    const std::string good = MadeScanFile(4);
    const char* const groupNames[kScanGroupCount] = {
        "the main header", "the channel group", "the group of the first polarisation",
        "the group of the second polarisation"};
    std::array<std::size_t, kScanGroupCount> groupStart{};
    groupStart[1] = good.find("END\r\n") + 5;
    groupStart[2] = good.find("END\r\n", groupStart[1]) + 5;
    groupStart[3] = good.find("POLARIZ =              0");
    int checked = 0;
    for (const ScanCardLayout& card : ScanCardTable()) {
        const bool quoted = card.kind == ScanCardKind::Text || card.kind == ScanCardKind::Date ||
                            card.kind == ScanCardKind::Time;
        if (card.kind != ScanCardKind::Whole && card.kind != ScanCardKind::Real && !quoted) continue;
        const std::string keyword = card.keyword;
        const std::string where = keyword + " in " + groupNames[card.group];
        const std::size_t at = good.find((keyword + "        ").substr(0, 8) + "= ",
                                         groupStart[static_cast<std::size_t>(card.group)]);
        ASSERT_NE(at, std::string::npos) << where;
        const std::size_t valueEnd = good.find("\t/", at);

        // Without the card,
        std::string renamed = good;
        renamed[at] = 'x';
        EXPECT_EQ(ParseError(renamed), "x.001: no " + keyword + " card in " + groupNames[card.group]);
        // and with a value of another kind.
        std::string other = good;
        other.replace(at + 10, valueEnd - at - 10, card.kind == ScanCardKind::Whole ? "1.5" : "abc");
        EXPECT_EQ(ParseError(other), "x.001: " + where + " is not " +
                                         (card.kind == ScanCardKind::Whole  ? "a whole number"
                                          : card.kind == ScanCardKind::Real ? "a number"
                                                                            : "a quoted text") +
                                         ": '" + (card.kind == ScanCardKind::Whole ? "1.5" : "abc") + "'");
        ++checked;
    }
    EXPECT_EQ(checked, 18 + 4 + 3 + 3);  // all but SIMPLE, COMMENT and END
}

TEST(ScanReader, FileThatCannotBeOpened) {
    TempFolder home;
    ScanFileContents scan;
    std::string error;
    EXPECT_FALSE(ReadScanFile(home / "missing.001", scan, error));
    EXPECT_EQ(error, "Can't open " + (home / "missing.001"));
    EXPECT_FALSE(ReadScanFile(home.path(), scan, error));  // a folder
    EXPECT_EQ(error, "Can't open " + home.path());
}

TEST(ScanIndexReader, LinesAndWhatIsWrongWithThem) {
    std::vector<ScanIndexEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseScanIndex("s05b03_05z.001\t15.000[GHz]\r\ns05b03_05z.002\t12.500[GHz]\r\n", "i",
                               entries, error));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].name, "s05b03_05z.002");
    EXPECT_EQ(entries[1].frequency, 12.5);
    ASSERT_TRUE(ParseScanIndex("", "i", entries, error));
    EXPECT_TRUE(entries.empty());

    const struct {
        std::string bytes, message;
    } cases[] = {
        {"a.001\t1.000[GHz]", "i: line 1 does not end with CR LF"},
        {"a.001\t1.000[GHz]\r\nb.002 2.000[GHz]\r\n", "i: line 2 is not NAME<tab>FREQUENCY[GHz]: 'b.002 2.000[GHz]'"},
        {"\t1.000[GHz]\r\n", "i: line 1 is not NAME<tab>FREQUENCY[GHz]: '\\x091.000[GHz]'"},
        {"../a.001\t1.000[GHz]\r\n", "i: line 1 names '../a.001', not a file in the index's folder"},
        {"..\t1.000[GHz]\r\n", "i: line 1 names '..', not a file in the index's folder"},
        {"a.001\t1.000 GHz\r\n", "i: line 1 does not give a frequency in GHz: '1.000 GHz'"},
        {"a.001\t[GHz]\r\n", "i: line 1 does not give a frequency in GHz: '[GHz]'"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ParseScanIndex(c.bytes, "i", entries, error)) << c.bytes;
        EXPECT_EQ(error, c.message);
    }
}

}  // namespace
