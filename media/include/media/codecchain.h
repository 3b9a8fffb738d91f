#pragma once
// The decode chain the streaming engine and the converter share: a source file and three
// codec stages (the source format -> 16-bit PCM at the source's rate and channels -> 16-bit
// PCM at the output's rate and channels -> the output format) with the buffers between them.
// Open the source and the stages, prepare them, then decode chunk after chunk (at the end of
// the source its partial last chunk, then what the decoder still holds) and encode PCM.
//
// One thread at a time, except that DecodeNext (the source, stage 1, the chunk and decoded
// buffers) and Encode (stages 2 and 3, the PCM, mix and encoded buffers) touch nothing in
// common: one thread may decode ahead while another encodes.

#include <cstdint>
#include <memory>
#include <string>

#include "codec/codecstage.h"
#include "media/audiosourcefile.h"
#include "media/sourceformatinfo.h"
#include "platform/bytesource.h"

class CodecChain {
public:
    // Buffer sizes in bytes: a chunk of source bytes, the most one chunk decodes to, the PCM
    // one Encode takes, its 16-bit intermediate at the output's rate, the encoded output.
    struct Sizes {
        uint32_t chunk = 0;
        uint32_t decoded = 0;
        uint32_t pcm = 0;
        uint32_t mix = 0;
        uint32_t encoded = 0;
    };

    CodecChain() = default;
    CodecChain(const CodecChain&) = delete;
    CodecChain& operator=(const CodecChain&) = delete;
    ~CodecChain() { Close(); }

    // Opens the source file (AudioSourceFile::Open); its reason for a refusal stays readable
    // through Source().
    bool OpenSource(const char* path, SourceFormatInfo& info, std::string& description);
    bool OpenSource(std::unique_ptr<platform::ByteSource> bytes, const char* name,
                    SourceFormatInfo& info, std::string& description);
    // Opens the three stages from the source format to outputFormat; false when a stage has
    // no codec (for instance none decodes the source format). live: the source is captured
    // audio, converted in small steps as it comes (CodecStage::Open).
    bool OpenStages(const uint8_t* sourceFormat, uint32_t sourceBytes, const uint8_t* outputFormat,
                    uint32_t outputBytes, bool live = false);
    // Sizes working forward from a chunk: each stage takes the most the one before it gives.
    Sizes SizesFromChunk(uint32_t chunkBytes) const;
    // Sizes working back from one packet of `encodedBytes`, the PCM in whole frames.
    Sizes SizesFromPacket(uint32_t chunkBytes, uint32_t encodedBytes, uint32_t frameBytes) const;
    // Allocates the buffers zero-filled and prepares the stages over them; false when a size is
    // 0 or absurd, or a stage refuses.
    bool Prepare(const Sizes& sizes);

    // Reads and decodes the next chunk into Decoded(): the bytes it holds (maybe 0). At the
    // end of the source (a short read) the partial chunk is decoded and the decoder drained
    // on the calls that follow; -1 once everything is decoded.
    int64_t DecodeNext();
    // Encodes the first `pcmBytes` of Pcm() into Encoded(), returning the encoded bytes; `end`
    // drains the rate converter (pcmBytes may then be 0).
    uint32_t Encode(uint32_t pcmBytes, bool end = false);
    // The two halves of Encode, for a caller that works on the resampled samples in between:
    // the first `pcmBytes` of Pcm() into Mix() (`end` drains the rate converter), returning
    // the bytes it holds; then the first `mixBytes` of Mix() into Encoded().
    uint32_t Resample(uint32_t pcmBytes, bool end = false);
    uint32_t EncodeMix(uint32_t mixBytes);
    // Releases the stages and the buffers and closes the source. Harmless when closed.
    void Close();

    bool AllDecoded() const { return m_state == State::Done; }
    // The source was not all there: it shrank while it was read, or a read failed.
    bool SourceEndedEarly() const { return m_source.EndedEarly(); }
    bool IsPrepared() const { return m_prepared; }
    const Sizes& BufferSizes() const { return m_sizes; }
    const AudioSourceFile& Source() const { return m_source; }
    const uint8_t* Decoded() const { return m_decoded.get(); }
    uint8_t* Pcm() { return m_pcm.get(); }
    uint8_t* Mix() { return m_mix.get(); }
    uint8_t* Encoded() { return m_encoded.get(); }

private:
    // Chunks still to read; read to the end, the decoder still to drain; everything decoded.
    enum class State { Reading, Draining, Done };

    AudioSourceFile m_source;
    CodecStage m_decode;    // the source format -> 16-bit PCM
    CodecStage m_resample;  // -> 16-bit PCM at the output's rate and channels
    CodecStage m_encode;    // -> the output format
    Sizes m_sizes;
    bool m_prepared = false;
    State m_state = State::Done;
    std::unique_ptr<uint8_t[]> m_chunk;
    std::unique_ptr<uint8_t[]> m_decoded;
    std::unique_ptr<uint8_t[]> m_pcm;
    std::unique_ptr<uint8_t[]> m_mix;
    std::unique_ptr<uint8_t[]> m_encoded;
};
