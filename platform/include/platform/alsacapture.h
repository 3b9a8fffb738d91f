#pragma once
// Live capture from a named ALSA PCM ("default" reaches the desktop's sound server through
// its ALSA plugin; "hw:1" or "plughw:1" a USB microphone directly). The device's own rate
// and channel count are taken (16-bit little-endian samples, or 32-bit ones reduced to 16
// bits; the fewest channels it offers, up to 8); the period
// is no longer than the one asked for, so a block never waits longer than a packet time.
// Blocks come with the monotonic time their last frame was captured. Opened, read and closed
// by one thread (the streaming worker); nothing in Read allocates.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// libasound's handles, declared here so its header stays out of every includer.
struct _snd_pcm;
struct _snd_pcm_hw_params;

namespace platform {

class AlsaCapture {
public:
    enum class ReadResult {
        kBlock,  // `frames` frames were read
        kEnded,  // the device failed or went away; Reason() says why; the device is closed
    };

    AlsaCapture() = default;
    AlsaCapture(const AlsaCapture&) = delete;
    AlsaCapture& operator=(const AlsaCapture&) = delete;
    ~AlsaCapture();

    // Opens `device` for capture with a period of at most maxPeriodUs microseconds (and a
    // buffer of several periods, at least 80 ms). False with Reason() set when the device does not
    // exist, is busy or offers no 16-bit format; nothing is then open.
    bool Open(const char* device, unsigned maxPeriodUs);
    bool IsOpen() const { return m_pcm != nullptr; }
    void Close();

    unsigned Rate() const { return m_rate; }
    unsigned Channels() const { return m_channels; }
    // Frames per period: the block a Read waits for.
    size_t PeriodFrames() const { return m_periodFrames; }

    // Blocks until one period is captured and writes it interleaved to `samples` (room for
    // PeriodFrames() * Channels() samples). An overrun or a suspended device is recovered
    // once; a second failure in a row, or a device that has gone (unplugged), ends the
    // capture. captureNs: the monotonic time of the block's last frame.
    ReadResult Read(int16_t* samples, size_t& frames, int64_t& captureNs);

    const std::string& Reason() const { return m_reason; }

    // The most channels a device may deliver: the codec stages mix up to this many.
    static constexpr unsigned kMaxChannels = 8;

    // Reads ALSA's configuration (and loads the modules its hooks name) now, on the calling
    // thread, rather than in the first Open: a thread that opens a device and may be left
    // behind in a hung open should not be the one that loaded libraries the process unloads
    // at its exit.
    static void LoadConfiguration();

private:
    void Fail(const char* what, int err);
    // Negotiates format, rate, channels and period on the opened device; false with Reason().
    bool Configure(unsigned maxPeriodUs);
    bool ConfigurePeriod(::_snd_pcm_hw_params* hw, unsigned rate, unsigned channels,
                         unsigned maxPeriodUs);

    ::_snd_pcm* m_pcm = nullptr;
    unsigned m_rate = 0;
    unsigned m_channels = 0;
    size_t m_periodFrames = 0;
    bool m_wide = false;               // the device delivers 32-bit samples
    std::vector<int32_t> m_wideBlock;  // one period of them, kept across reads
    std::string m_device;
    std::string m_reason;
};

// The PCM names ALSA's configuration and the sound cards offer for capture ("default"
// first, each name once), for the operator to choose from. A PCM that declares itself
// output-only is left out; one without a direction is kept. Any thread.
std::vector<std::string> CaptureDeviceNames();

}  // namespace platform
