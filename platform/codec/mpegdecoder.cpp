#include "mpegdecoder.h"

#include <mpg123.h>

#include <algorithm>

namespace {

// Sample frames per MPEG frame and the smallest frame in bytes, per layer, for one rate.
struct LayerDensity {
    uint32_t samples;
    uint32_t minBytes;
};

// The smallest frame of each layer at `rate` (no padding, lowest bit rate of the version).
void Densities(uint32_t rate, LayerDensity out[3]) {
    const bool mpeg1 = rate >= 32000;
    const uint32_t r = rate == 0 ? 1 : rate;
    // Layer I: 384 samples, 4-byte slots; Layers II and III: 1152 (576 below 32 kHz for III).
    const uint32_t brI = 32000;
    const uint32_t brII = mpeg1 ? 32000 : 8000;
    const uint32_t brIII = mpeg1 ? 32000 : 8000;
    out[0] = {384, std::max<uint32_t>(4, 12 * brI / r * 4)};
    out[1] = {1152, std::max<uint32_t>(4, 144 * brII / r)};
    out[2] = mpeg1 ? LayerDensity{1152, std::max<uint32_t>(4, 144 * brIII / r)}
                   : LayerDensity{576, std::max<uint32_t>(4, 72 * brIII / r)};
}

}  // namespace

uint64_t MpegDecoder::MaxFramesFor(uint32_t bytes, uint32_t rate) {
    LayerDensity d[3];
    Densities(rate, d);
    uint64_t best = 0;
    for (const auto& l : d) {
        best = std::max<uint64_t>(best, (uint64_t{bytes} / l.minBytes + 1) * l.samples);
    }
    // The frame held back from earlier calls may complete now as well.
    return best + 1152;
}

MpegDecoder::MpegDecoder(uint16_t channels, uint32_t rate) : m_channels(channels), m_rate(rate) {
    m_output.SetBlock(2u * channels);
    // A no-op since libmpg123 1.27, needed before; safe to call from any thread.
    mpg123_init();
    int err = MPG123_OK;
    m_handle = mpg123_new(nullptr, &err);
    if (m_handle == nullptr) {
        return;
    }
    // Quiet: bad input is reported through return codes, never on stderr. No resampling
    // inside the library: a frame at a foreign rate is dropped, as the record rules.
    mpg123_param(m_handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
    mpg123_param(m_handle, MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0.0);
    mpg123_param(m_handle, MPG123_RESYNC_LIMIT, -1, 0.0);
    mpg123_format_none(m_handle);
    if (channels == 0 || channels > 2 ||
        mpg123_format(m_handle, static_cast<long>(rate),
                      channels == 1 ? MPG123_MONO : MPG123_STEREO,
                      MPG123_ENC_SIGNED_16) != MPG123_OK) {
        return;
    }
    m_open = OpenFeed();
}

MpegDecoder::~MpegDecoder() {
    if (m_handle != nullptr) {
        mpg123_delete(m_handle);
    }
}

bool MpegDecoder::OpenFeed() {
    mpg123_close(m_handle);
    return mpg123_open_feed(m_handle) == MPG123_OK;
}

uint32_t MpegDecoder::DstBoundFor(uint32_t srcBytes) const {
    return SaturateU32(MaxFramesFor(srcBytes, m_rate) * 2u * m_channels);
}

uint32_t MpegDecoder::SrcNeededFor(uint32_t dstBytes) const {
    // By the densest layout the record allows: about 320 kbit/s at this rate.
    const uint64_t frames = (uint64_t{dstBytes} + 2u * m_channels - 1) / (2u * m_channels);
    const uint64_t bytes = (frames * 320000 / 8 + m_rate - 1) / m_rate;
    return SaturateU32(bytes + 1441);
}

void MpegDecoder::Reset() {
    m_output.Clear();
    if (m_handle != nullptr) {
        m_open = OpenFeed();
    }
}

void MpegDecoder::Process(const uint8_t* input, uint32_t bytes, bool /*end*/) {
    if (!m_open) {
        return;
    }
    // The feed reader decodes a frame as soon as its last byte has arrived, so the end of
    // the stream leaves nothing held back.
    while (bytes > 0) {
        const uint32_t chunk = std::min<uint32_t>(bytes, 1u << 20);
        if (mpg123_feed(m_handle, input, chunk) != MPG123_OK) {
            return;
        }
        input += chunk;
        bytes -= chunk;
        DecodeAvailable();
    }
}

void MpegDecoder::DecodeAvailable() {
    // A frame the library refuses (a foreign rate among others) is dropped and decoding goes
    // on with the next; a run of refusals without progress ends the call instead of spinning.
    constexpr int kMaxRefusals = 64;
    int refusals = 0;
    while (refusals < kMaxRefusals) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        size_t got = 0;
        const int rc = mpg123_decode_frame(m_handle, &frameNumber, &audio, &got);
        if (rc == MPG123_OK || rc == MPG123_NEW_FORMAT) {
            if (got > 0 && audio != nullptr) {
                m_output.Append(audio, got - got % (2u * m_channels));
            }
            refusals = 0;
            continue;
        }
        if (rc != MPG123_ERR) {
            return;  // needs more bytes, or done
        }
        ++refusals;
    }
}
