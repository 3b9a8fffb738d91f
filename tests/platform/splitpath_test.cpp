#include "platform/splitpath.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const char* path;
    const char* dir;
    const char* fname;
    const char* ext;
};

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
                      SplitCase{"/x/.hidden", "/x/", "", ".hidden"}, SplitCase{"", "", "", ""}));

}  // namespace
