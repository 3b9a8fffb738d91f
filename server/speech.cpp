#include "server/speech.h"

#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <mutex>

#include "platform/byteorder.h"
#include "platform/sharedlibrary.h"

namespace speech {

namespace {

std::mutex g_lock;  // the library's state is global
int g_rate = 0;     // its output rate once started; -1 when it could not start

// The library's functions. It is loaded by the first announcement, not linked: it brings a
// sound server's client, X and a dozen codecs, which every other command would load too.
struct SpeechLibrary {
    decltype(&espeak_Initialize) initialize = nullptr;
    decltype(&espeak_SetSynthCallback) setSynthCallback = nullptr;
    decltype(&espeak_SetVoiceByName) setVoiceByName = nullptr;
    decltype(&espeak_Synth) synth = nullptr;
};
SpeechLibrary g_speech;  // under g_lock; complete once g_rate > 0

// Samples arrive here in pieces while espeak_Synth runs.
int Collect(short* samples, int count, espeak_EVENT* events) {
    if (samples != nullptr && count > 0 && events != nullptr && events->user_data != nullptr) {
        auto* out = static_cast<std::vector<int16_t>*>(events->user_data);
        out->insert(out->end(), samples, samples + count);
    }
    return 0;  // go on
}

// False when the library is missing or lacks one of the functions.
bool Load() {
    static platform::SharedLibrary library(SONVEX_ESPEAK_NG_SONAME);
    g_speech.initialize = library.Find<decltype(espeak_Initialize)>("espeak_Initialize");
    g_speech.setSynthCallback =
        library.Find<decltype(espeak_SetSynthCallback)>("espeak_SetSynthCallback");
    g_speech.setVoiceByName =
        library.Find<decltype(espeak_SetVoiceByName)>("espeak_SetVoiceByName");
    g_speech.synth = library.Find<decltype(espeak_Synth)>("espeak_Synth");
    return g_speech.initialize != nullptr && g_speech.setSynthCallback != nullptr &&
           g_speech.setVoiceByName != nullptr && g_speech.synth != nullptr;
}

bool Start(std::string& problem) {
    static bool loaded = false;
    if (g_rate == 0) {
        loaded = Load();
        // DONT_EXIT: a missing data folder is a refusal here, never the process's end.
        const int rate = loaded ? g_speech.initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr,
                                                      espeakINITIALIZE_DONT_EXIT)
                                : -1;
        g_rate = rate > 0 ? rate : -1;
        if (g_rate > 0) {
            g_speech.setSynthCallback(Collect);
        }
    }
    if (g_rate < 0) {
        problem = loaded ? "the speech library could not start (is espeak-ng-data installed?)"
                         : "the speech library could not be loaded (is espeak-ng installed?)";
        return false;
    }
    return true;
}

std::vector<uint8_t> WaveImage(const std::vector<int16_t>& samples, uint32_t rate) {
    const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
    std::vector<uint8_t> wave(44 + dataBytes);
    uint8_t* p = wave.data();
    std::copy_n("RIFF", 4, p);
    platform::StoreLe32(p + 4, 36 + dataBytes);
    std::copy_n("WAVEfmt ", 8, p + 8);
    platform::StoreLe32(p + 16, 16);
    platform::StoreLe16(p + 20, 1);  // PCM
    platform::StoreLe16(p + 22, 1);  // mono
    platform::StoreLe32(p + 24, rate);
    platform::StoreLe32(p + 28, rate * 2);
    platform::StoreLe16(p + 32, 2);
    platform::StoreLe16(p + 34, 16);
    std::copy_n("data", 4, p + 36);
    platform::StoreLe32(p + 40, dataBytes);
    for (size_t i = 0; i < samples.size(); ++i) {
        platform::StoreLe16(p + 44 + 2 * i, static_cast<uint16_t>(samples[i]));
    }
    return wave;
}

}  // namespace

bool IsVoiceName(const std::string& voice) {
    return !voice.empty() && voice.size() <= 40 && voice[0] != '-' &&
           std::all_of(voice.begin(), voice.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '+';
           });
}

bool RenderWave(const std::string& text, const std::string& voice, std::vector<uint8_t>& wave,
                std::string& problem) {
    const bool blank = std::all_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    });
    if (blank) {
        problem = "there is no text to say";
        return false;
    }
    if (text.size() > kMaxTextBytes) {
        problem = "the text is longer than " + std::to_string(kMaxTextBytes) + " bytes";
        return false;
    }
    const std::string name = voice.empty() ? std::string(kDefaultVoice) : voice;
    if (!IsVoiceName(name)) {
        problem = "\"" + voice + "\" is not a voice's name";
        return false;
    }
    const std::lock_guard<std::mutex> hold(g_lock);
    if (!Start(problem)) {
        return false;
    }
    if (g_speech.setVoiceByName(name.c_str()) != EE_OK) {
        problem = "there is no voice named \"" + name + "\"";
        return false;
    }
    std::vector<int16_t> samples;
    const espeak_ERROR said = g_speech.synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                             espeakCHARS_UTF8, nullptr, &samples);
    if (said != EE_OK || samples.empty()) {
        problem = "the text could not be spoken";
        return false;
    }
    wave = WaveImage(samples, static_cast<uint32_t>(g_rate));
    return true;
}

}  // namespace speech
