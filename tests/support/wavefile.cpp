#include "wavefile.h"

#include <fstream>
#include <iterator>

namespace testsupport {

bool WriteWave(const std::filesystem::path& path, const std::vector<uint8_t>& fmt,
               const std::vector<uint8_t>& data) {
    std::vector<uint8_t> file;
    file.insert(file.end(), {'R', 'I', 'F', 'F'});
    PutU32(file, static_cast<uint32_t>(4 + 8 + fmt.size() + 8 + data.size()));
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutU32(file, static_cast<uint32_t>(fmt.size()));
    file.insert(file.end(), fmt.begin(), fmt.end());
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    PutU32(file, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out);
}

bool WriteWave(const std::filesystem::path& path, uint16_t tag, uint16_t channels, uint32_t rate,
               uint16_t bits, const std::vector<uint8_t>& data) {
    const auto align = static_cast<uint16_t>(channels * bits / 8);
    const uint16_t blockAlign = align != 0 ? align : 1;
    std::vector<uint8_t> fmt;
    PutU16(fmt, tag);
    PutU16(fmt, channels);
    PutU32(fmt, rate);
    PutU32(fmt, rate * blockAlign);
    PutU16(fmt, blockAlign);
    PutU16(fmt, bits);
    if (tag != 1) {
        PutU16(fmt, 0);  // cbSize: non-PCM formats carry it
    }
    return WriteWave(path, fmt, data);
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace testsupport
