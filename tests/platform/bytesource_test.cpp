#include "platform/bytesource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;
using platform::ByteSource;

// A file and a buffer holding the same bytes read, seek and measure alike.
TEST(ByteSource, FileAndMemoryReadAlike) {
    testsupport::TempDir dir;
    std::vector<uint8_t> bytes(100000);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 13 + i / 256);
    }
    const std::string path = (dir.Path() / "a.bin").string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::string error;
    std::unique_ptr<ByteSource> file = platform::FileByteSource::Open(path.c_str(), error);
    ASSERT_TRUE(file) << error;
    platform::MemoryByteSource memory(bytes.data(), bytes.size());

    for (ByteSource* source : {file.get(), static_cast<ByteSource*>(&memory)}) {
        EXPECT_EQ(source->Size(), 100000);
        std::vector<uint8_t> got(70000);
        EXPECT_EQ(source->Read(got.data(), 70000), 70000);
        EXPECT_EQ(source->Read(got.data() + 0, 70000), 30000);  // to the end
        EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 30000),
                  std::vector<uint8_t>(bytes.begin() + 70000, bytes.end()));
        EXPECT_EQ(source->Read(got.data(), 10), 0);
        EXPECT_EQ(source->Tell(), 100000u);
        ASSERT_TRUE(source->Seek(12345));
        EXPECT_EQ(source->Read(got.data(), 3), 3);
        EXPECT_EQ(got[2], bytes[12347]);
        EXPECT_EQ(source->Tell(), 12348u);
        ASSERT_TRUE(source->Seek(200000));  // past the end: reads give nothing
        EXPECT_EQ(source->Read(got.data(), 10), 0);
        EXPECT_EQ(source->Read(nullptr, 10), -1);
    }
}

TEST(ByteSource, FileRefusesWhatIsNotARegularFile) {
    testsupport::TempDir dir;
    const std::string missing = (dir.Path() / "missing").string();
    const std::string folder = dir.Path().string();
    for (const char* path :
         {missing.c_str(), folder.c_str(), "", static_cast<const char*>(nullptr)}) {
        std::string error;
        EXPECT_FALSE(platform::FileByteSource::Open(path, error));
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
