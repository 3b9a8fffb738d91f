// Times AudioSourceFile::Open (frame scan or chunk walk, description included) on three
// files made in a temporary folder: a 10-minute 128 kbit/s MP3 (encoded with sox and lame),
// 100 MB of non-MPEG bytes named .mp3 (no sync byte, so the scan covers every byte), and a
// 10-minute 16-bit stereo WAV. For scale it also times a 4-byte read / 3-byte seek-back walk
// over the first 4 MB of the non-MPEG file, the cost the buffered search avoids.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "media/audiosourcefile.h"
#include "media/mp3framescanner.h"
#include "platform/bytesource.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Median and minimum of `runs` opens; false when the open result is not `expect`.
bool TimeOpen(const char* label, const fs::path& path, bool expect, int runs) {
    std::vector<double> times;
    std::string text;
    for (int i = 0; i < runs; ++i) {
        AudioSourceFile file;
        SourceFormatInfo info;
        const auto t0 = Clock::now();
        const bool ok = file.Open(path.c_str(), info, text);
        file.Close();
        times.push_back(Ms(Clock::now() - t0));
        if (ok != expect) {
            std::printf("%s: open gave %d, expected %d\n", label, ok, expect);
            return false;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("%-44s %10.3f ms median %10.3f ms min  (%d runs, %.1f MB)\n", label,
                times[times.size() / 2], times.front(), runs,
                static_cast<double>(fs::file_size(path)) / 1e6);
    return true;
}

// The byte-at-a-time walk straight on the file, limited to `limit` bytes.
double ByteWalkMs(const fs::path& path, long limit) {
    std::string error;
    const auto file = platform::FileByteSource::Open(path.c_str(), error);
    if (!file) {
        return 0;
    }
    const auto t0 = Clock::now();
    uint8_t b[4];
    long found = 0;
    for (long pos = 0; pos < limit; ++pos) {
        if (file->Read(b, 4) < 4) {
            break;
        }
        if (Mp3FrameScanner::IsCandidate(b)) {
            ++found;
        } else {
            file->Seek(file->Tell() - 3);
        }
    }
    const double ms = Ms(Clock::now() - t0);
    std::printf("  (%ld candidates)\n", found);
    return ms;
}

}  // namespace

int main() {
    const std::string templ = (fs::temp_directory_path() / "sonvex_bench_XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = buf.data();
    int rc = 0;

    const fs::path mp3 = dir / "ten_minutes.mp3";
    const std::string encode =
        "sox -q -V1 -n -r 44100 -c 2 -b 16 -t wav - synth 600 sine 440 | "
        "lame --quiet -m j -b 128 --cbr - '" +
        mp3.string() + "'";
    const auto e0 = Clock::now();
    if (std::system(encode.c_str()) != 0 || !fs::exists(mp3)) {
        std::printf("could not encode the MP3 (sox and lame needed)\n");
        rc = 1;
    } else {
        std::printf("encoded 10-minute MP3 in %.0f ms\n", Ms(Clock::now() - e0));
        rc |= !TimeOpen("10-minute 128 kbit/s MP3", mp3, true, 50);
    }

    const fs::path junk = dir / "not_audio.mp3";
    {
        std::mt19937 rng(1);
        std::vector<uint8_t> block(1 << 20);
        std::ofstream out(junk, std::ios::binary);
        for (int mb = 0; mb < 100; ++mb) {
            for (auto& b : block) {
                b = static_cast<uint8_t>(rng() % 255);  // never 0xFF: no candidate anywhere
            }
            out.write(reinterpret_cast<const char*>(block.data()), block.size());
        }
    }
    rc |= !TimeOpen("100 MB non-MPEG named .mp3 (full pass)", junk, false, 5);
    const long walkBytes = 4L << 20;
    const double walk = ByteWalkMs(junk, walkBytes);
    std::printf("%-44s %10.3f ms for 4 MB, about %.0f ms for 100 MB\n",
                "  byte walk on the handle (for scale)", walk, walk * 25);

    const fs::path wav = dir / "ten_minutes.wav";
    {
        const uint32_t dataBytes = 600u * 176400u;
        const uint8_t header[44] = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W',  'A', 'V',
                                    'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,    1,   0,
                                    2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 0x02, 0,   4,
                                    0,   16,  0,    'd',  'a', 't', 'a',  0,    0,    0,   0};
        {
            std::ofstream out(wav, std::ios::binary);
            out.write(reinterpret_cast<const char*>(header), sizeof header);
        }
        fs::resize_file(wav, sizeof header + dataBytes);  // the audio is silence
    }
    rc |= !TimeOpen("10-minute 16-bit stereo 44.1 kHz WAV", wav, true, 50);

    fs::remove_all(dir);
    return rc;
}
