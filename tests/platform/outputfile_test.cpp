#include "platform/outputfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/filesizelimit.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t FilesIn(const fs::path& dir) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {}));
}

// The target name holds the old file until Commit; an abandoned or failed file (a full disk)
// never replaces it, and no temporary file stays behind.
TEST(OutputFile, ReplacesItsTargetOnlyWhenCommitted) {
    testsupport::TempDir dir;
    const fs::path target = dir / "out.wav";
    std::ofstream(target) << "old";

    platform::OutputFile file;
    ASSERT_TRUE(file.Create(target.c_str()));
    ASSERT_TRUE(file.Write("new!", 4));
    EXPECT_TRUE(file.Seek(3));
    ASSERT_TRUE(file.Write("?", 1));
    EXPECT_EQ(file.Size(), 4);
    EXPECT_EQ(Contents(target), "old");
    file.Abandon();
    EXPECT_EQ(Contents(target), "old");
    EXPECT_EQ(FilesIn(dir.Path()), 1u);

    {
        testsupport::FileSizeLimit full(1000);
        ASSERT_TRUE(full.Active());
        ASSERT_TRUE(file.Create(target.c_str()));
        const std::vector<char> bytes(4000, 'x');
        EXPECT_FALSE(file.Write(bytes.data(), bytes.size()));
        EXPECT_FALSE(file.Error().empty());
        EXPECT_FALSE(file.Commit());
    }
    EXPECT_EQ(Contents(target), "old");
    EXPECT_EQ(FilesIn(dir.Path()), 1u);

    ASSERT_TRUE(file.Create(target.c_str()));
    ASSERT_TRUE(file.Write("new", 3));
    EXPECT_TRUE(file.Commit());
    EXPECT_EQ(Contents(target), "new");
    EXPECT_EQ(FilesIn(dir.Path()), 1u);

    EXPECT_FALSE(file.Create((dir / "no" / "such" / "folder.wav").c_str()));
    EXPECT_FALSE(file.Error().empty());
}

}  // namespace
