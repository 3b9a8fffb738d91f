#include "acmdrivers.h"

#include "chainstream.h"
#include "g722codec.h"
#include "gsmdecoder.h"
#include "imaadpcmdecoder.h"
#include "mpegdecoder.h"
#include "msadpcmdecoder.h"
#include "pcmresampler.h"
#include "samplecodec.h"

namespace {

enum DriverIndex { kPcm = 0, kMpeg = 1, kAdpcm = 2, kG711 = 3, kGsm = 4, kG722 = 5 };

constexpr uint32_t kCodec = ACMDRIVERDETAILS_SUPPORTF_CODEC;
constexpr uint32_t kConverter = ACMDRIVERDETAILS_SUPPORTF_CONVERTER;

// Nine standard rates (8 kHz to 48 kHz) in mono and stereo.
constexpr uint32_t kStdFormats = 18;

constexpr AcmTagInfo kPcmTags[] = {
    {WAVE_FORMAT_PCM, 16, kStdFormats * 4, "PCM"},
    {WAVE_FORMAT_IEEE_FLOAT, 18, kStdFormats * 2, "IEEE float"},
    {WAVE_FORMAT_EXTENSIBLE, 40, kStdFormats * 6, "PCM (extensible)"},
};
constexpr AcmTagInfo kMpegTags[] = {
    {WAVE_FORMAT_PCM, 16, kStdFormats, "PCM"},
    {WAVE_FORMAT_MPEGLAYER3, 30, kStdFormats, "MPEG Layer-3"},
    {WAVE_FORMAT_MPEG, 40, 12, "MPEG Layer-1/2"},
};
constexpr AcmTagInfo kAdpcmTags[] = {
    {WAVE_FORMAT_PCM, 16, kStdFormats, "PCM"},
    {WAVE_FORMAT_ADPCM, 50, kStdFormats, "ADPCM"},
    {WAVE_FORMAT_DVI_ADPCM, 20, kStdFormats, "IMA ADPCM"},
};
constexpr AcmTagInfo kG711Tags[] = {
    {WAVE_FORMAT_PCM, 16, kStdFormats, "PCM"},
    {WAVE_FORMAT_ALAW, 18, kStdFormats, "G.711 A-law"},
    {WAVE_FORMAT_MULAW, 18, kStdFormats, "G.711 mu-law"},
};
// G.722 exists at one rate only: 16 kHz mono.
constexpr AcmTagInfo kG722Tags[] = {
    {WAVE_FORMAT_PCM, 16, 1, "PCM"},
    {WAVE_FORMAT_G722_ADPCM, 18, 1, "G.722"},
};
constexpr AcmTagInfo kGsmTags[] = {
    {WAVE_FORMAT_PCM, 16, 1, "PCM"},
    {WAVE_FORMAT_GSM610, 20, 1, "GSM 6.10"},
};

template <size_t N>
constexpr uint32_t Count(const AcmTagInfo (&)[N]) {
    return static_cast<uint32_t>(N);
}

const AcmDriverInfo kDrivers[kAcmDriverCount] = {
    {"Sonvex PCM", "Sonvex PCM converter",
     "Linear PCM and IEEE float to 16-bit PCM; channel mixing and rate conversion",
     kCodec | kConverter, kPcmTags, Count(kPcmTags)},
    {"Sonvex MPEG", "Sonvex MPEG audio decoder", "MPEG-1, -2 and 2.5 audio, Layers I, II and III",
     kCodec, kMpegTags, Count(kMpegTags)},
    {"Sonvex ADPCM", "Sonvex ADPCM decoder", "IMA ADPCM and coefficient-set ADPCM", kCodec,
     kAdpcmTags, Count(kAdpcmTags)},
    {"Sonvex G.711", "Sonvex G.711 codec", "ITU-T G.711 A-law and mu-law", kCodec, kG711Tags,
     Count(kG711Tags)},
    {"Sonvex GSM", "Sonvex GSM 6.10 decoder", "GSM 06.10 full rate, 65-byte blocks", kCodec,
     kGsmTags, Count(kGsmTags)},
    {"Sonvex G.722", "Sonvex G.722 codec", "ITU-T G.722 at 64 kbit/s, on libspandsp", kCodec,
     kG722Tags, Count(kG722Tags)},
};

bool PcmKind(const AudioFormat& f, SampleKind& kind) {
    if (f.tag == WAVE_FORMAT_PCM) {
        switch (f.bits) {
            case 8:
                kind = SampleKind::U8;
                return true;
            case 16:
                kind = SampleKind::S16;
                return true;
            case 24:
                kind = SampleKind::S24;
                return true;
            case 32:
                kind = SampleKind::S32;
                return true;
            default:
                return false;
        }
    }
    if (f.tag == WAVE_FORMAT_IEEE_FLOAT) {
        if (f.bits == 32) {
            kind = SampleKind::F32;
            return true;
        }
        if (f.bits == 64) {
            kind = SampleKind::F64;
            return true;
        }
    }
    return false;
}

// The one G.722 format: mono at 16 kHz.
bool IsG722(const AudioFormat& f) {
    return f.tag == WAVE_FORMAT_G722_ADPCM && f.channels == 1 && f.rate == kG722SampleRate;
}

// The G.722 coder either way, or null when the library could not make its state.
std::unique_ptr<CodecStream> MakeG722(bool encode, int& driver) {
    auto codec = std::make_unique<G722Codec>(encode);
    if (!codec->IsOpen()) {
        return nullptr;
    }
    driver = kG722;
    return codec;
}

// A decoder from `src` to 16-bit PCM with the source's channels and rate, or null.
std::unique_ptr<CodecStream> MakeDecoder(const AudioFormat& src, int& driver) {
    SampleKind kind{};
    if (PcmKind(src, kind)) {
        driver = kPcm;
        return std::make_unique<SampleCodec>(kind, false, src.channels);
    }
    switch (src.tag) {
        case WAVE_FORMAT_MPEGLAYER3:
        case WAVE_FORMAT_MPEG: {
            if (src.channels > 2) {
                return nullptr;
            }
            driver = kMpeg;
            auto d = std::make_unique<MpegDecoder>(src.channels, src.rate);
            return d->IsOpen() ? std::move(d) : nullptr;
        }
        case WAVE_FORMAT_ALAW:
        case WAVE_FORMAT_MULAW:
            if (src.bits != 8) {
                return nullptr;
            }
            driver = kG711;
            return std::make_unique<SampleCodec>(
                src.tag == WAVE_FORMAT_ALAW ? SampleKind::Alaw : SampleKind::Mulaw, false,
                src.channels);
        case WAVE_FORMAT_ADPCM: {
            if (src.channels > 2 ||
                MsAdpcmDecoder::FramesPerBlock(src.blockAlign, src.channels) == 0) {
                return nullptr;
            }
            driver = kAdpcm;
            return std::make_unique<MsAdpcmDecoder>(src.blockAlign, src.channels, src.extra);
        }
        case WAVE_FORMAT_DVI_ADPCM: {
            const uint32_t header = 4u * src.channels;
            // Data words of 4 bytes per channel follow the per-channel headers.
            if (src.bits != 4 || src.channels > 2 || src.blockAlign <= header ||
                (src.blockAlign - header) % header != 0) {
                return nullptr;
            }
            driver = kAdpcm;
            return std::make_unique<ImaAdpcmDecoder>(src.blockAlign, src.channels);
        }
        case WAVE_FORMAT_G722_ADPCM:
            return IsG722(src) ? MakeG722(false, driver) : nullptr;
        case WAVE_FORMAT_GSM610: {
            if (src.channels != 1 || src.blockAlign != 65) {
                return nullptr;
            }
            driver = kGsm;
            auto d = std::make_unique<GsmDecoder>();
            return d->IsOpen() ? std::move(d) : nullptr;
        }
        default:
            return nullptr;
    }
}

}  // namespace

const AcmDriverInfo& AcmDriverAt(int index) {
    return kDrivers[index];
}

uint32_t AcmMaxFormatSize() {
    uint32_t best = 0;
    for (const auto& d : kDrivers) {
        for (uint32_t i = 0; i < d.tagCount; ++i) {
            best = d.tags[i].formatSize > best ? d.tags[i].formatSize : best;
        }
    }
    return best;
}

std::unique_ptr<CodecStream> AcmCreateCodec(const AudioFormat& src, const AudioFormat& dst,
                                            int onlyDriver, int& driver, bool lowLatency) {
    driver = -1;
    std::unique_ptr<CodecStream> codec;
    if ((dst.tag == WAVE_FORMAT_MULAW || dst.tag == WAVE_FORMAT_ALAW) && dst.bits == 8) {
        // Encoding: 16-bit PCM to G.711 with the same channels and rate.
        if (!src.IsPcm16() || src.channels != dst.channels || src.rate != dst.rate) {
            return nullptr;
        }
        driver = kG711;
        codec = std::make_unique<SampleCodec>(
            dst.tag == WAVE_FORMAT_ALAW ? SampleKind::Alaw : SampleKind::Mulaw, true, dst.channels);
    } else if (IsG722(dst)) {
        // Encoding: 16-bit mono PCM at 16 kHz only; the rate converter comes before.
        if (!src.IsPcm16() || src.channels != 1 || src.rate != kG722SampleRate) {
            return nullptr;
        }
        codec = MakeG722(true, driver);
    } else if (dst.IsPcm16()) {
        codec = MakeDecoder(src, driver);
        if (codec != nullptr && (src.channels != dst.channels || src.rate != dst.rate)) {
            auto resampler = std::make_unique<PcmResampler>(src.channels, src.rate, dst.channels,
                                                            dst.rate, lowLatency);
            if (!resampler->IsOpen()) {
                return nullptr;
            }
            if (src.IsPcm16()) {
                codec = std::move(resampler);
            } else {
                codec = std::make_unique<ChainStream>(std::move(codec), std::move(resampler),
                                                      dst.Pcm16Frame());
            }
        }
    }
    if (codec == nullptr || (onlyDriver >= 0 && onlyDriver != driver)) {
        driver = -1;
        return nullptr;
    }
    return codec;
}
