// The catalog's safety: any bytes in and out as they were, and nothing
// committed lost when a writer is killed.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "catalog/catalog.h"
#include "support/test_support.h"

namespace {

CatalogRecording Entry(const std::string& header, const std::string& object, int scanFiles) {
    CatalogRecording r;
    r.header = header;
    r.output = "/out/" + header;
    r.observed = "2003-11-05T08:13:07.52";
    r.object = object;
    r.status = "converted";
    r.warnings = {{"ar-short", 2, object}};
    for (int c = 0; c < scanFiles; ++c) {
        CatalogScanFile f;
        f.name = "scan" + std::to_string(c);
        f.channel = c;
        f.frequency = 3.0 + c;
        f.calibrated = c % 2 == 0;
        f.refusal = f.calibrated ? "" : object;
        f.hasFlux = f.calibrated;
        f.flux = 100.0 + c;
        f.sources.resize(1);
        r.scanFiles.push_back(f);
    }
    return r;
}

TEST(Catalog, AwkwardTextIsStoredAndReadBackAsItIs) {
    TempFolder folder;
    const std::string path = folder / "catalog.sqlite";
    const std::vector<std::string> texts = {
        "it's \"quoted\"/sun.05h",
        "'); DROP TABLE recordings; --/sun.05h",
        std::string("\xff\xfe latin \xe9/sun\x01.05h"),
        std::string("zero\0byte/sun.05h", 17),
    };
    Catalog catalog;
    std::string error;
    ASSERT_TRUE(OpenCatalog(path, catalog, error)) << error;
    for (const std::string& text : texts) ASSERT_TRUE(AddRecording(catalog, Entry(text, text, 2), error)) << error;
    std::vector<std::string> headers;
    ASSERT_TRUE(CatalogHeaders(catalog, headers, error)) << error;
    EXPECT_EQ(headers.size(), texts.size());
    for (const std::string& text : texts) {
        CatalogRecording back;
        bool found = false;
        ASSERT_TRUE(ReadRecording(catalog, text, back, found, error)) << error;
        ASSERT_TRUE(found) << text;
        EXPECT_EQ(back.header, text);
        EXPECT_EQ(back.object, text);
        EXPECT_EQ(back.warnings.at(0).message, text);
        EXPECT_EQ(back.scanFiles.at(1).refusal, text);
    }
    // Added again, an entry replaces the one before.
    ASSERT_TRUE(AddRecording(catalog, Entry(texts[1], "SUN", 1), error)) << error;
    CatalogRecording back;
    bool found = false;
    ASSERT_TRUE(ReadRecording(catalog, texts[1], back, found, error)) << error;
    EXPECT_EQ(back.object, "SUN");
    EXPECT_EQ(back.scanFiles.size(), 1u);
}

TEST(Catalog, AnotherSchemaVersionIsRefusedNamingTheFile) {
    TempFolder folder;
    const std::string path = folder / "catalog.sqlite";
    {
        Catalog catalog;
        std::string error;
        ASSERT_TRUE(OpenCatalog(path, catalog, error)) << error;
        ASSERT_EQ(sqlite3_exec(catalog.db, "UPDATE catalog_info SET value = '2' WHERE key = 'schema_version'",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    Catalog catalog;
    std::string error;
    EXPECT_FALSE(OpenCatalog(path, catalog, error));
    EXPECT_EQ(error, path + ": holds catalog schema version 2, this program reads version 1");
}

TEST(Catalog, KillDuringWritesLosesNothingCommitted) {
    TempFolder folder;
    const std::string path = folder / "catalog.sqlite";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        Catalog catalog;
        std::string error;
        if (!OpenCatalog(path, catalog, error)) _exit(3);
        for (int n = 0;; ++n) {
            if (!AddRecording(catalog, Entry("rec" + std::to_string(n), "SUN", 40), error)) _exit(4);
            if (n == 20) (void)!write(ready[1], "x", 1);
        }
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    usleep(50000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(ready[0]);
    ASSERT_TRUE(WIFSIGNALED(status));

    Catalog catalog;
    std::string error;
    ASSERT_TRUE(OpenCatalog(path, catalog, error)) << error;
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(catalog.db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    std::vector<std::string> headers;
    ASSERT_TRUE(CatalogHeaders(catalog, headers, error)) << error;
    // Every recording up to the last committed one, each complete.
    EXPECT_GT(headers.size(), 20u);
    for (std::size_t n = 0; n < headers.size(); ++n) {
        CatalogRecording back;
        bool found = false;
        ASSERT_TRUE(ReadRecording(catalog, "rec" + std::to_string(n), back, found, error)) << error;
        ASSERT_TRUE(found) << n;
        EXPECT_EQ(back.scanFiles.size(), 40u) << n;
        EXPECT_EQ(back.scanFiles.back().sources.size(), 1u) << n;
    }
}

}  // namespace
