#pragma once
// Decoder of GSM 6.10 in WAV (tag 0x31) on libgsm: blocks of 65 bytes, each two frames of
// 160 samples packed in the WAV49 layout. A block cut by the end of the stream cannot be
// decoded in part: nothing of it is played.

#include "blockdecoder.h"

struct gsm_state;

class GsmDecoder final : public BlockDecoder {
public:
    static constexpr uint32_t kBlockBytes = 65;
    static constexpr uint32_t kFramesPerBlock = 320;

    GsmDecoder();
    ~GsmDecoder() override;
    GsmDecoder(const GsmDecoder&) = delete;
    GsmDecoder& operator=(const GsmDecoder&) = delete;

    bool IsOpen() const { return m_gsm != nullptr; }

protected:
    void DecodeBlock(const uint8_t* block) override;
    void ResetDecoder() override;

private:
    bool Create();

    gsm_state* m_gsm = nullptr;
};
