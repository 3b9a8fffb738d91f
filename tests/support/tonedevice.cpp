#include "support/tonedevice.h"

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "support/wavefile.h"

namespace testsupport {

bool MakeToneDevice(const std::filesystem::path& dir, double hz) {
    const std::vector<uint8_t> tone = SinePcm16(3 * 48000, 1, 48000, hz, 12000.0);
    std::ofstream raw(dir / "tone.raw", std::ios::binary);
    raw.write(reinterpret_cast<const char*>(tone.data()),
              static_cast<std::streamsize>(tone.size()));
    raw.close();
    return raw.good() && DeclareFilePcms(dir, {{"tone", dir / "tone.raw"}});
}

bool DeclareFilePcms(const std::filesystem::path& dir,
                     const std::vector<std::pair<std::string, std::filesystem::path>>& devices) {
    std::ofstream rc(dir / ".asoundrc");
    for (const auto& [name, infile] : devices) {
        rc << "pcm." << name << " { type file; slave.pcm \"null\"; file \"/dev/null\"; infile \""
           << infile.string() << "\"; format \"raw\" }\n";
    }
    rc.close();
    // The library keeps the configuration it read first; an earlier test's HOME is gone.
    snd_config_update_free_global();
    return rc.good() && setenv("HOME", dir.c_str(), 1) == 0;
}

void RestoreHome(const std::string& home) {
    if (home.empty()) {
        unsetenv("HOME");
    } else {
        setenv("HOME", home.c_str(), 1);
    }
    snd_config_update_free_global();
}

}  // namespace testsupport
