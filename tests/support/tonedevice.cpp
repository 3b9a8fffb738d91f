#include "support/tonedevice.h"

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "support/wavefile.h"

namespace testsupport {

bool MakeToneDevice(const std::filesystem::path& dir, double hz) {
    const std::vector<uint8_t> tone = SinePcm16(48000, 1, 48000, hz, 12000.0);
    std::ofstream raw(dir / "tone.raw", std::ios::binary);
    raw.write(reinterpret_cast<const char*>(tone.data()),
              static_cast<std::streamsize>(tone.size()));
    std::ofstream rc(dir / ".asoundrc");
    rc << "pcm.tone { type file; slave.pcm \"null\"; file \"/dev/null\"; infile \""
       << (dir / "tone.raw").string() << "\"; format \"raw\" }\n";
    // The library keeps the configuration it read first; an earlier test's HOME is gone.
    snd_config_update_free_global();
    return raw.good() && rc.good() && setenv("HOME", dir.c_str(), 1) == 0;
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
