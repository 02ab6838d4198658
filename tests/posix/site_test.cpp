// The quick-look site: texts from the archive made safe, the calendar's
// weeks, and BuildSite on a small catalog (nothing hostile gets through,
// nothing unchanged is written again).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "catalog/catalog.h"
#include "site/html.h"
#include "site/pages.h"
#include "site/site.h"
#include "support/test_support.h"

namespace {

const std::string kScript = "<script>window.__vmInjected=1</script>";
const std::string kAttribute = "\"><img src=x onerror=\"window.__vmInjected=2\">";

// Text and attribute escapes (Html), and links encoded byte by byte (PercentEncoded).
TEST(Site, TextsAreEscapedAndMadeValid) {
    const std::string fffd = "\xef\xbf\xbd";
    const struct {
        std::string (*escape)(const std::string&);
        std::string in, out;
    } cases[] = {
        {Html, "SUN 2003", "SUN 2003"},
        {Html, kScript, "&lt;script&gt;window.__vmInjected=1&lt;/script&gt;"},
        {Html, kAttribute, "&quot;&gt;&lt;img src=x onerror=&quot;window.__vmInjected=2&quot;&gt;"},
        {Html, "it's a&b", "it&#39;s a&amp;b"},
        {Html, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {Html, "\xff", fffd},
        {Html, "a\xe9z", "a" + fffd + "z"},                       // Latin-1, not UTF-8
        {Html, "\xed\xa0\x80", fffd + fffd + fffd},               // a surrogate
        {Html, "\xe2\x82<", fffd + fffd + "&lt;"},
        {Html, std::string("a\0b", 3), "a\xe2\x90\x80" "b"},      // NUL as its picture
        {PercentEncoded, "2003-11-05/sun_1.05h~", "2003-11-05/sun_1.05h~"},
        {PercentEncoded, "a b#c?d%e\"'<>&", "a%20b%23c%3Fd%25e%22%27%3C%3E%26"},
        {PercentEncoded, std::string("x\0y\xc3", 4), "x%00y%C3"},
        {PercentEncoded, "javascript:alert(1)", "javascript%3Aalert%281%29"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.escape(c.in), c.out) << c.in;
}

TEST(Site, MonthsInWeeksFromMonday) {
    const struct {
        int year, month;
        std::array<int, 7> first, last;
        std::size_t weeks;
    } cases[] = {
        {2003, 11, {0, 0, 0, 0, 0, 1, 2}, {24, 25, 26, 27, 28, 29, 30}, 5},  // starts on a Saturday
        {2004, 2, {0, 0, 0, 0, 0, 0, 1}, {23, 24, 25, 26, 27, 28, 29}, 5},   // leap year, a Sunday
        {2010, 5, {0, 0, 0, 0, 0, 1, 2}, {31, 0, 0, 0, 0, 0, 0}, 6},
    };
    for (const auto& c : cases) {
        const std::vector<std::array<int, 7>> weeks = MonthWeeks(c.year, c.month);
        ASSERT_EQ(weeks.size(), c.weeks) << c.year << "-" << c.month;
        EXPECT_EQ(weeks.front(), c.first) << c.year << "-" << c.month;
        EXPECT_EQ(weeks.back(), c.last) << c.year << "-" << c.month;
    }
}

// A recording of two scan files (names and object name hostile), a source in each.
CatalogRecording Recording(const std::string& header, const std::string& observed, const std::string& status) {
    CatalogRecording r;
    r.header = header, r.output = "/nowhere/out/" + header.substr(0, 10), r.observed = observed;
    r.object = kScript, r.status = status;
    for (int c = 0; c < 2; ++c) {
        CatalogScanFile f;
        f.name = "sun" + std::to_string(c) + kAttribute + ".fit";
        f.channel = c, f.frequency = 2.0 + 2.0 * c, f.calibrated = f.hasFlux = true, f.flux = 80.0 + c;
        f.sources.push_back(CatalogSource{0, 300.0, 5.0, 10.0, 1.0, 2.0, 0.2, 3.0, 0.5, 0.1, 0.01, 9.0});
        r.scanFiles.push_back(f);
    }
    return r;
}

// Every file under `folder`, with its bytes.
std::map<std::string, std::string> Collect(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file()) files[std::filesystem::relative(e.path(), folder).string()] = ReadFileBytes(e.path());
    return files;
}

TEST(Site, BuildSiteEscapesEverythingAndWritesOnlyWhatChanged) {
    TempFolder folder;
    SiteOptions options;
    options.catalog = folder / "catalog.sqlite";
    options.site = folder / "site";
    std::string error;
    {
        Catalog catalog;
        ASSERT_TRUE(OpenCatalog(options.catalog, catalog, error)) << error;
        CatalogRecording warned = Recording("2003-11-06/sun.06h", "2003-11-06T08:00:00.00", "warnings");
        warned.warnings = {{"ar-short", 3, kScript}, {"ar-short", 4, kAttribute}};
        CatalogRecording failed = Recording("2003-12-01/sun.01h", "2003-12-01T08:00:00.00", "failed");
        failed.reason = kAttribute;
        failed.scanFiles.clear();
        CatalogRecording unread = Recording(kAttribute + "/sun.99h", "0000-00-00T00:00:00.00", "failed");
        unread.scanFiles.clear();
        for (const CatalogRecording& r :
             {Recording("2003-11-05/sun.05h", "2003-11-05T08:00:00.00", "converted"), warned, failed, unread})
            ASSERT_TRUE(AddRecording(catalog, r, error)) << error;
    }
    // One recording's products: an overview (just a PNG's head) and a note for the rest.
    const std::string products = options.site + "/" + RecordingSiteFolder("2003-11-05/sun.05h");
    std::filesystem::create_directories(products);
    WriteFileBytes(products + "/overview.png",
                   std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x04\xb0\0\0\x03\x20", 24));
    WriteFileBytes(products + "/notes.txt", "calibrated-v.png: " + kScript + "\n");

    SiteReport report;
    ASSERT_TRUE(BuildSite(options, report, error)) << error;
    EXPECT_EQ(report.written, report.pages);
    const std::map<std::string, std::string> files = Collect(options.site);
    for (const auto& [name, bytes] : files) {
        if (name.size() < 5 || name.substr(name.size() - 5) != ".html") continue;
        EXPECT_EQ(bytes.find("<script"), std::string::npos) << name;
        EXPECT_EQ(bytes.find("<img src=x"), std::string::npos) << name;
    }

    const std::string index = files.at("index.html");
    EXPECT_LT(index.find("December 2003"), index.find("November 2003"));  // newest first
    EXPECT_NE(index.find("ar-short \xc3\x97" "2"), std::string::npos);
    EXPECT_NE(index.find("href=\"" + RecordingSiteFolder("2003-11-06/sun.06h") + "/index.html\""),
              std::string::npos);

    const std::string page = files.at(RecordingSiteFolder("2003-11-05/sun.05h") + "/index.html");
    EXPECT_NE(page.find("<img src=\"overview.png\" width=\"1200\" height=\"800\""), std::string::npos);
    EXPECT_EQ(page.find("<img src=\"calibrated-i.png\""), std::string::npos);
    EXPECT_NE(page.find("Not drawn.<br>calibrated-v.png: &lt;script&gt;"), std::string::npos);
    // Scan files from the page's folder to the output folder, every odd byte encoded.
    std::string up;
    for (const char c : AbsolutePath(products)) up += c == '/' ? "../" : "";
    EXPECT_NE(page.find("href=\"" + up + "nowhere/out/2003-11-05/sun0%22%3E%3Cimg%20src%3Dx"), std::string::npos)
        << page;
    EXPECT_NE(files.at(RecordingSiteFolder("2003-12-01/sun.01h") + "/index.html").find("No pictures: the conversion failed"),
              std::string::npos);

    // Again: nothing to write.
    ASSERT_TRUE(BuildSite(options, report, error)) << error;
    EXPECT_GT(report.pages, 6);
    EXPECT_EQ(report.written, 0);

    // One recording changed: its page and the calendar only.
    {
        Catalog catalog;
        ASSERT_TRUE(OpenCatalog(options.catalog, catalog, error)) << error;
        CatalogRecording failed = Recording("2003-12-01/sun.01h", "2003-12-01T08:00:00.00", "failed");
        failed.reason = "the marker file is empty";
        failed.scanFiles.clear();
        ASSERT_TRUE(AddRecording(catalog, failed, error)) << error;
    }
    ASSERT_TRUE(BuildSite(options, report, error)) << error;
    EXPECT_EQ(report.written, 2);
    const std::map<std::string, std::string> after = Collect(options.site);
    std::vector<std::string> changed;
    for (const auto& [name, bytes] : after)
        if (files.count(name) == 0 || files.at(name) != bytes) changed.push_back(name);
    EXPECT_EQ(changed, (std::vector<std::string>{"index.html", RecordingSiteFolder("2003-12-01/sun.01h") + "/index.html"}));
}

}  // namespace
