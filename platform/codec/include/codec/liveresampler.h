#pragma once
// Rate conversion for live audio: captured 16-bit interleaved PCM at the device's rate and
// channel count to 16-bit mono at another rate (8 kHz for paging), block by block as it is
// captured. The lowpass is a minimum-phase one: it passes the speech band about 0.3 ms after
// its input, where a linear-phase lowpass as sharp would take half its length (4 ms); only
// near the band's top does it lag more (1 ms at 3.4 kHz). Its ratio can be trimmed while it
// runs, without a click, which absorbs the drift of a capture device's clock against the
// system clock.
//
// Channels are mixed first by the codec services' one rule (the average of all channels,
// truncated toward zero). The first output sample is aligned with the first input frame:
// output sample k stands for the input at k / outRate seconds (as the filter delays the band
// it passes) and is produced once the input reaches DelayNs() beyond that.
//
// Used by the thread that captures a page, one thread at a time. Process allocates nothing.

#include <cstddef>
#include <cstdint>
#include <vector>

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
    // outRate Hz, untrimmed. False for a rate outside 8000..192000 Hz or a channel count
    // outside 1..8; nothing is open then. The first Open in a process designs the lowpass
    // (a few milliseconds); later ones share it.
    bool Open(unsigned inRate, unsigned channels, unsigned outRate);
    void Close();
    bool IsOpen() const { return m_open; }

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
    // the filter's delay of the speech band (its group delay at low frequencies), in
    // nanoseconds. 0 when not open.
    int64_t DelayNs() const;

private:
    void Convert(const int16_t* in, size_t frames);
    int16_t Sample(double position) const;
    void MakeRoom(size_t samples);
    size_t Drain(int16_t* out, size_t capacity);
    size_t ChunkBound(size_t frames) const;

    bool m_open = false;
    unsigned m_inRate = 0;
    unsigned m_channels = 0;
    unsigned m_outRate = 0;
    size_t m_maxChunk = 0;  // frames converted in one piece
    double m_scale = 0.0;   // the filter's units per input frame
    size_t m_taps = 0;      // input frames under the filter
    size_t m_phases = 0;    // rows of m_bank but one
    // The filter's taps per phase of an input frame (m_phases + 1 rows of m_taps, the last
    // row one frame on from the first), oldest frame first.
    std::vector<float> m_bank;
    double m_delay = 0.0;  // the filter's delay of the speech band, in input frames
    double m_step = 0.0;   // input frames per output sample, trimmed
    double m_trimPpm = 0.0;
    // Mono input: the last m_taps frames before a piece, then the piece. m_next is where the
    // next output sample is taken, in frames from its start.
    std::vector<float> m_history;
    size_t m_historyCount = 0;
    double m_next = 0.0;
    std::vector<int16_t> m_held;  // output not yet written
    size_t m_heldCount = 0;
};
