#include "platform/lowio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace platform;

class LowIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("sonvex_lowio_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string PathOf(const char* name) const { return (m_dir / name).string(); }
    fs::path m_dir;
};

TEST_F(LowIoTest, CreateWriteReadSeekAndEof) {
    const std::string path = PathOf("a.bin");
    int fd = _open(path.c_str(), kO_BINARY | kO_TRUNC | kO_CREAT | kO_RDWR, kS_IREAD | kS_IWRITE);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(_write(fd, "hello world", 11), 11);
    EXPECT_EQ(_filelength(fd), 11);
    EXPECT_EQ(_tell(fd), 11);
    EXPECT_EQ(_eof(fd), 1);
    EXPECT_EQ(_lseek(fd, 6, kSeekSet), 6);
    EXPECT_EQ(_eof(fd), 0);
    char buf[16] = {};
    EXPECT_EQ(_read(fd, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "world");
    EXPECT_EQ(_read(fd, buf, sizeof buf), 0);
    EXPECT_EQ(_close(fd), 0);

    // Truncating open empties the file.
    fd = _open(path.c_str(), kO_BINARY | kO_TRUNC | kO_CREAT | kO_RDWR);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(_filelength(fd), 0);
    EXPECT_EQ(_close(fd), 0);
}

TEST_F(LowIoTest, RefusesWhatIsNotARegularFileAndBadHandles) {
    EXPECT_EQ(_open(PathOf("missing").c_str(), kO_RDONLY), -1);
    EXPECT_EQ(_open(m_dir.string().c_str(), kO_RDONLY), -1);  // a directory
    EXPECT_EQ(_open("", kO_RDONLY), -1);
    EXPECT_EQ(_open(nullptr, kO_RDONLY), -1);
    char c;
    for (int bad : {0, -1}) {
        EXPECT_EQ(_read(bad, &c, 1), -1);
        EXPECT_EQ(_write(bad, &c, 1), -1);
        EXPECT_EQ(_lseek(bad, 0, kSeekSet), -1);
        EXPECT_EQ(_filelength(bad), -1);
        EXPECT_EQ(_close(bad), -1);
    }
}

TEST_F(LowIoTest, NeverHandsOutDescriptorZero) {
    const std::string path = PathOf("z.bin");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const int saved = ::dup(0);
    ::close(0);
    const int fd = _open(path.c_str(), kO_RDONLY);
    EXPECT_GT(fd, 0);
    _close(fd);
    ::dup2(saved, 0);
    ::close(saved);
}

TEST_F(LowIoTest, RefusesFilesOfTwoGibibytesOrMore) {
    const std::string path = PathOf("big.bin");
    int fd = _open(path.c_str(), kO_CREAT | kO_RDWR);
    ASSERT_GT(fd, 0);
    _close(fd);
    // A sparse file costs no disk space.
    fs::resize_file(path, (1ull << 31));
    EXPECT_EQ(_open(path.c_str(), kO_RDONLY), -1);
    fs::resize_file(path, (1ull << 31) - 1);
    fd = _open(path.c_str(), kO_RDONLY);
    EXPECT_GT(fd, 0);
    _close(fd);
}

}  // namespace
