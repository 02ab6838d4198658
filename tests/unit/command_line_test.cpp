#include "platform/command_line.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char* name;
    std::string line;
    std::vector<std::string> expected;
};

TEST(SplitCommandLine, FollowsTheQuotingRules) {
    const SplitCase cases[] = {
        {"empty line", "", {}},
        {"program only", "vm-fits.exe", {}},
        {"two plain", "vm-fits.exe D:\\obs\\sun.05h D:\\out", {"D:\\obs\\sun.05h", "D:\\out"}},
        {"tabs and control codes separate", "prog\ta\x01\x1f" "b  c", {"a", "b", "c"}},
        {"quoted blanks", "prog \"C:\\My Data\\sun.05h\" out", {"C:\\My Data\\sun.05h", "out"}},
        {"quoted and unquoted stretches join", "prog \"C:\\My Data\"\\sun.05h",
         {"C:\\My Data\\sun.05h"}},
        {"empty quoted argument vanishes", "prog \"\" D:\\obs\\sun.05h D:\\out",
         {"D:\\obs\\sun.05h", "D:\\out"}},
        {"several empty quoted arguments", "prog \"\"  \"\" a", {"a"}},
        {"quoted program name", "\"C:\\Program Files\\vm-fits.exe\" a b", {"a", "b"}},
        {"open quote runs to the end", "prog \"a b", {"a b"}},
        {"lone quote at the end ends the list", "prog a \"", {"a"}},
        {"high characters are ordinary", "prog \xe4\xf6\xfc", {"\xe4\xf6\xfc"}},
        {"five arguments all returned", "p 1 2 3 4 5", {"1", "2", "3", "4", "5"}},
        {"trailing blanks", "p a   ", {"a"}},
        {"text after a zero byte is not read", std::string("p a\0b", 5), {"a"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.line), c.expected) << c.name;
    }
}

TEST(FolderOfPath, TextBeforeTheLastSeparator) {
    EXPECT_EQ(FolderOfPath("D:\\obs\\sun.05h", '\\'), "D:\\obs");
    EXPECT_EQ(FolderOfPath("D:\\sun.05h", '\\'), "D:");
    EXPECT_EQ(FolderOfPath("sun.05h", '\\'), "");
    EXPECT_EQ(FolderOfPath("\\sun.05h", '\\'), "");  // only separator is the first character
    EXPECT_EQ(FolderOfPath("\\a\\sun.05h", '\\'), "\\a");
    EXPECT_EQ(FolderOfPath("/home/obs/sun.05h", '/'), "/home/obs");
    EXPECT_EQ(FolderOfPath("D:\\obs\\", '\\'), "D:\\obs");
}

TEST(WithoutTrailingSeparator, RemovesOneSeparatorOnly) {
    EXPECT_EQ(WithoutTrailingSeparator("D:\\out\\", '\\'), "D:\\out");
    EXPECT_EQ(WithoutTrailingSeparator("D:\\out\\\\", '\\'), "D:\\out\\");
    EXPECT_EQ(WithoutTrailingSeparator("D:\\out", '\\'), "D:\\out");
    EXPECT_EQ(WithoutTrailingSeparator("c:\\", '\\'), "c:");
    EXPECT_EQ(WithoutTrailingSeparator("", '\\'), "");
    EXPECT_EQ(WithoutTrailingSeparator("/tmp/out/", '/'), "/tmp/out");
}

}  // namespace
