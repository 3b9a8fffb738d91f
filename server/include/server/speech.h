#pragma once
// Spoken text: espeak-ng renders it in this process, into memory, as a mono 16-bit PCM WAV
// image that the file pipeline then reads like any file (no temporary file). The speech
// library keeps global state: calls are serialised inside.

#include <cstdint>
#include <string>
#include <vector>

namespace speech {

// The longest text said in one announcement, in bytes of UTF-8.
constexpr size_t kMaxTextBytes = 2000;
// The voice when none is asked for.
constexpr char kDefaultVoice[] = "en";

// Whether `voice` may be handed to the speech library: a voice's short name ("en",
// "en-us", "de", "en+f3"), never a path.
bool IsVoiceName(const std::string& voice);
// Renders `text` in `voice` (empty: the default) into `wave`, a whole WAV file image. False,
// with `problem` in the words the command line prints, for no text, too long a text, a voice
// that is not installed, or a library that cannot start.
bool RenderWave(const std::string& text, const std::string& voice, std::vector<uint8_t>& wave,
                std::string& problem);

}  // namespace speech
