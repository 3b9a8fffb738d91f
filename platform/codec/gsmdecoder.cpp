#include "gsmdecoder.h"

#include <gsm.h>

#include <cstring>

#include "platform/byteorder.h"

GsmDecoder::GsmDecoder() : BlockDecoder(kBlockBytes, kFramesPerBlock, 1) {
    Create();
}

GsmDecoder::~GsmDecoder() {
    if (m_gsm != nullptr) {
        gsm_destroy(m_gsm);
    }
}

bool GsmDecoder::Create() {
    if (m_gsm != nullptr) {
        gsm_destroy(m_gsm);
    }
    m_gsm = gsm_create();
    if (m_gsm == nullptr) {
        return false;
    }
    int wav49 = 1;
    gsm_option(m_gsm, GSM_OPT_WAV49, &wav49);
    return true;
}

void GsmDecoder::ResetDecoder() {
    // The filters' memory and the WAV49 half-block phase both start over.
    Create();
}

void GsmDecoder::DecodeBlock(const uint8_t* block) {
    const size_t outBytes = size_t{kFramesPerBlock} * 2;
    uint8_t* out = m_output.Extend(outBytes);
    gsm_signal samples[kFramesPerBlock] = {};
    // libgsm takes a non-const frame; the first half is 33 bytes, the second 32.
    uint8_t frames[kBlockBytes];
    std::memcpy(frames, block, kBlockBytes);
    // A frame libgsm rejects keeps its place in time as silence.
    if (m_gsm == nullptr || gsm_decode(m_gsm, frames, samples) < 0 ||
        gsm_decode(m_gsm, frames + 33, samples + 160) < 0) {
        std::memset(samples, 0, sizeof samples);
    }
    for (uint32_t i = 0; i < kFramesPerBlock; ++i) {
        platform::StoreLe16s(out + 2 * i, samples[i]);
    }
    m_output.Commit(outBytes);
}
