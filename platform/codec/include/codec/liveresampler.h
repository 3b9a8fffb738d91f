#pragma once
// Rate conversion for live audio: captured 16-bit interleaved PCM at the device's rate and
// channel count to 16-bit mono at another rate (8 kHz for paging), block by block as it is
// captured, on libspeexdsp's resampler at its voice quality. Its output trails its input by
// the filter's half length only (about 3 ms), not by the blocks a transform-based converter
// works in, and its ratio can be trimmed while it runs, which absorbs the drift of a capture
// device's clock against the system clock without a click.
//
// Channels are mixed first by the codec services' one rule (the average of all channels,
// truncated toward zero). The first output sample is aligned with the first input frame: the
// filter's leading zeros are skipped, so output sample k stands for the input at k / outRate
// seconds and is produced once the input reaches DelayNs() beyond that.
//
// A trimmed ratio is set as a fraction over a denominator of 2^15 to 2^16 (libspeexdsp
// carries its filter phase over to a new denominator in 32-bit arithmetic and is left in an
// inconsistent state when that overflows). The closest such fractions on either side of it
// usually lie within a billionth of it, but near a ratio of small integers (the untrimmed one)
// up to 15 ppm apart at 1:1 (2.5 ppm at 6:1). The converter alternates between the two, so
// that the input it consumes stays within 20 ns of what the exact ratio would consume.
//
// Used by the thread that captures a page, one thread at a time. Process allocates nothing.

#include <cstddef>
#include <cstdint>
#include <vector>

struct SpeexResamplerState_;

class LiveResampler {
public:
    // The trim's range either way, in parts per million of the output rate.
    static constexpr double kMaxTrimPpm = 2000.0;
    // A trim closer than this to the one in effect is not applied.
    static constexpr double kMinTrimStepPpm = 1.0;
    // The largest block converted in one piece; Process splits longer ones.
    static constexpr unsigned kMaxBlockMs = 100;

    LiveResampler() = default;
    ~LiveResampler() { Close(); }
    LiveResampler(const LiveResampler&) = delete;
    LiveResampler& operator=(const LiveResampler&) = delete;

    // Closes what was open, then opens a converter from inRate Hz and `channels` to mono at
    // outRate Hz, untrimmed. False for a rate outside 8000..192000 Hz, a channel count outside
    // 1..8, or when libspeexdsp refuses; nothing is open then.
    bool Open(unsigned inRate, unsigned channels, unsigned outRate);
    void Close();
    bool IsOpen() const { return m_state != nullptr; }

    // Converts `frames` interleaved frames, all of them, and writes at most outCapacity mono
    // samples to `out`; returns how many it wrote. Output that does not fit is kept and
    // written first by the next call (up to twice the output of a longest block; beyond that
    // the oldest is dropped), so give OutputBound(frames) of room. 0 when not open.
    size_t Process(const int16_t* in, size_t frames, int16_t* out, size_t outCapacity);
    // The most samples one Process of `frames` frames can write, output kept from the last
    // call included.
    size_t OutputBound(size_t frames) const;

    // Trims the ratio: +ppm makes that many parts per million more output samples per input
    // frame (speeds up a slow device), -ppm fewer. Clamped to kMaxTrimPpm either way.
    void SetTrimPpm(double ppm);
    // The trim in effect.
    double TrimPpm() const { return m_trimPpm; }
    // How long after an input frame the output sample standing for its time is produced:
    // the filter's half length, in nanoseconds. 0 when not open.
    int64_t DelayNs() const;

private:
    struct Ratio {
        uint32_t num = 0;  // input frames per `den` output samples
        uint32_t den = 1;
        double Value() const { return static_cast<double>(num) / static_cast<double>(den); }
    };

    static void Bracket(double x, Ratio& below, Ratio& above);
    static Ratio Beyond(const Ratio& near, const Ratio& far);
    double RatioFor(double ppm) const;
    bool SizeFilter(const Ratio& start);
    void Target(double ppm);
    bool Apply(const Ratio& ratio);
    const int16_t* Mix(const int16_t* in, size_t frames);
    void Convert(const int16_t* mono, size_t frames);
    size_t OutputUntilTurn() const;
    void Steer(size_t produced);
    void MakeRoom(size_t samples);
    size_t Drain(int16_t* out, size_t capacity);
    size_t ChunkBound(size_t frames) const;

    SpeexResamplerState_* m_state = nullptr;
    unsigned m_inRate = 0;
    unsigned m_channels = 0;
    unsigned m_outRate = 0;
    size_t m_maxChunk = 0;  // frames converted in one piece
    double m_trimPpm = 0.0;
    // The trimmed ratio (input frames per output sample), the fractions below and above it
    // and which of them runs, and the input consumed beyond the trimmed ratio, in frames.
    double m_target = 0.0;
    Ratio m_below;
    Ratio m_above;
    bool m_runAbove = false;
    double m_slip = 0.0;
    double m_slipLimit = 0.0;      // the slip allowed either way, in input frames
    std::vector<int16_t> m_mixed;  // one piece's input mixed to mono
    std::vector<int16_t> m_held;   // output not yet written
    size_t m_heldCount = 0;
};
