#include "platform/splitpath.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

namespace {

struct SplitCase {
    const char* path;
    const char* dir;
    const char* fname;
    const char* ext;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << '"' << c.path << '"';
}

// The path with every other character than a letter or digit as _, "empty" for none.
std::string SplitName(const ::testing::TestParamInfo<SplitCase>& info) {
    std::string name = *info.param.path == '\0' ? "empty" : info.param.path;
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    }
    return name;
}

class SplitPathTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitPathTest, SplitsIntoDirectoryNameAndExtension) {
    const SplitCase& c = GetParam();
    const auto r = platform::_splitpath(c.path);
    EXPECT_EQ(r.drive, "");
    EXPECT_EQ(r.dir, c.dir);
    EXPECT_EQ(r.fname, c.fname);
    EXPECT_EQ(r.ext, c.ext);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SplitPathTest,
    ::testing::Values(SplitCase{"/music/song.mp3", "/music/", "song", ".mp3"},
                      SplitCase{"/music/a.b.mp3", "/music/", "a.b", ".mp3"},
                      SplitCase{"song", "", "song", ""}, SplitCase{"/out/", "/out/", "", ""},
                      SplitCase{"/dir.with.dots/name", "/dir.with.dots/", "name", ""},
                      SplitCase{"/x/.hidden", "/x/", "", ".hidden"}, SplitCase{"", "", "", ""}),
    SplitName);

}  // namespace
