#include "platform/alsacapture.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/monotonicclock.h"

namespace platform {

namespace {

// ALSA reports its own diagnostics on standard error; the reason we keep says it once.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// A buffer of at least this many periods, and this long, rides out a late wake-up of the
// reader without an overrun. A capture buffer costs no latency: a block is read as soon as
// its period is in.
constexpr unsigned kPeriodsPerBuffer = 4;
constexpr unsigned kMinBufferMs = 80;

}  // namespace

AlsaCapture::~AlsaCapture() {
    Close();
}

void AlsaCapture::LoadConfiguration() {
    snd_lib_error_set_handler(&QuietAlsa);
    snd_config_update();
}

void AlsaCapture::Fail(const char* what, int err) {
    m_reason = "the capture device \"" + m_device + "\": " + what + " (" + snd_strerror(err) + ")";
}

bool AlsaCapture::Open(const char* device, unsigned maxPeriodUs) {
    Close();
    m_reason.clear();
    m_device = device;
    snd_lib_error_set_handler(&QuietAlsa);
    int err = snd_pcm_open(&m_pcm, device, SND_PCM_STREAM_CAPTURE, 0);
    if (err < 0) {
        m_pcm = nullptr;
        Fail("cannot be opened", err);
        return false;
    }
    if (!Configure(maxPeriodUs)) {
        Close();
        return false;
    }
    if ((err = snd_pcm_prepare(m_pcm)) < 0 || (err = snd_pcm_start(m_pcm)) < 0) {
        Fail("cannot start", err);
        Close();
        return false;
    }
    return true;
}

bool AlsaCapture::Configure(unsigned maxPeriodUs) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    int err = 0;
    if ((err = snd_pcm_hw_params_any(m_pcm, hw)) < 0 ||
        (err = snd_pcm_hw_params_set_access(m_pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) {
        Fail("offers no interleaved capture", err);
        return false;
    }
    // 16-bit samples where offered; else 32-bit ones (many USB microphones' hw devices),
    // whose top 16 bits Read keeps.
    m_wide = false;
    if (snd_pcm_hw_params_set_format(m_pcm, hw, SND_PCM_FORMAT_S16_LE) < 0) {
        if ((err = snd_pcm_hw_params_set_format(m_pcm, hw, SND_PCM_FORMAT_S32_LE)) < 0) {
            Fail("offers neither 16-bit nor 32-bit little-endian samples", err);
            return false;
        }
        m_wide = true;
    }
    // The device's own rate (its maximum is its native one on most hardware and on the sound
    // servers' plugins), up to 48 kHz where it offers one; the codec stages convert it.
    unsigned rate = 0;
    int dir = 0;
    snd_pcm_hw_params_get_rate_max(hw, &rate, &dir);
    rate = std::min(rate, 48000u);
    dir = 0;
    if ((err = snd_pcm_hw_params_set_rate_near(m_pcm, hw, &rate, &dir)) < 0) {
        Fail("offers no sample rate", err);
        return false;
    }
    // The fewest channels it offers; the codec stages mix them to one.
    unsigned channels = 0;
    snd_pcm_hw_params_get_channels_min(hw, &channels);
    channels = std::max(1u, channels);
    if (channels > kMaxChannels ||
        (err = snd_pcm_hw_params_set_channels(m_pcm, hw, channels)) < 0) {
        Fail("offers no channel count up to 8", err < 0 ? err : -EINVAL);
        return false;
    }
    return ConfigurePeriod(hw, rate, channels, maxPeriodUs);
}

bool AlsaCapture::ConfigurePeriod(snd_pcm_hw_params_t* hw, unsigned rate, unsigned channels,
                                  unsigned maxPeriodUs) {
    // The largest period not longer than asked: a block never waits longer than a packet.
    auto period = std::max<snd_pcm_uframes_t>(
        1, static_cast<snd_pcm_uframes_t>(rate) * maxPeriodUs / 1000000);
    int dir = 0;
    int err = 0;
    if ((err = snd_pcm_hw_params_set_period_size_near(m_pcm, hw, &period, &dir)) < 0 ||
        (static_cast<uint64_t>(period) * 1000000 > static_cast<uint64_t>(rate) * maxPeriodUs &&
         (err = snd_pcm_hw_params_set_period_size_max(m_pcm, hw, &period, &dir)) < 0)) {
        Fail("offers no period short enough", err);
        return false;
    }
    snd_pcm_uframes_t buffer = std::max<snd_pcm_uframes_t>(
        period * kPeriodsPerBuffer, static_cast<snd_pcm_uframes_t>(rate) * kMinBufferMs / 1000);
    snd_pcm_hw_params_set_buffer_size_near(m_pcm, hw, &buffer);
    if ((err = snd_pcm_hw_params(m_pcm, hw)) < 0) {
        Fail("refuses the capture settings", err);
        return false;
    }
    snd_pcm_hw_params_get_period_size(hw, &period, &dir);
    if (static_cast<uint64_t>(period) * 1000000 >
        static_cast<uint64_t>(rate) * maxPeriodUs + rate) {
        Fail("offers no period short enough", -EINVAL);
        return false;
    }
    m_rate = rate;
    m_channels = channels;
    m_periodFrames = period;
    m_wideBlock.assign(m_wide ? period * channels : 0, 0);
    return true;
}

void AlsaCapture::Close() {
    if (m_pcm != nullptr) {
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }
}

AlsaCapture::ReadResult AlsaCapture::Read(int16_t* samples, size_t& frames, int64_t& captureNs) {
    frames = 0;
    if (m_pcm == nullptr) {
        return ReadResult::kEnded;
    }
    bool recovered = false;
    for (;;) {
        const snd_pcm_sframes_t n = m_wide
                                        ? snd_pcm_readi(m_pcm, m_wideBlock.data(), m_periodFrames)
                                        : snd_pcm_readi(m_pcm, samples, m_periodFrames);
        if (n > 0) {
            frames = static_cast<size_t>(n);
            for (size_t i = 0; m_wide && i < frames * m_channels; ++i) {
                samples[i] = static_cast<int16_t>(m_wideBlock[i] >> 16);
            }
            // Frames still waiting in the buffer were captured after this block's last one.
            const snd_pcm_sframes_t waiting = std::max<snd_pcm_sframes_t>(0, snd_pcm_avail(m_pcm));
            captureNs = MonotonicNowNs() - static_cast<int64_t>(waiting) * 1000000000 / m_rate;
            return ReadResult::kBlock;
        }
        const int err = n == 0 ? -EIO : static_cast<int>(n);
        // An overrun (the reader came late) or a suspend is recovered once; a device that
        // has gone, or a failure right after a recovery, ends the capture.
        if (err == -ENODEV || recovered || snd_pcm_recover(m_pcm, err, 1) < 0) {
            Fail(err == -ENODEV ? "has gone" : "stopped delivering samples", err);
            Close();
            return ReadResult::kEnded;
        }
        recovered = true;
    }
}

std::vector<std::string> CaptureDeviceNames() {
    std::vector<std::string> names{"default"};
    snd_lib_error_set_handler(&QuietAlsa);
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) {
        return names;
    }
    for (void** hint = hints; *hint != nullptr; ++hint) {
        // Both strings are the caller's to free; a missing IOID means either direction.
        char* name = snd_device_name_get_hint(*hint, "NAME");
        char* ioid = snd_device_name_get_hint(*hint, "IOID");
        if (name != nullptr && (ioid == nullptr || std::strcmp(ioid, "Input") == 0) &&
            std::find(names.begin(), names.end(), name) == names.end()) {
            names.emplace_back(name);
        }
        std::free(name);
        std::free(ioid);
    }
    snd_device_name_free_hint(hints);
    return names;
}

}  // namespace platform
