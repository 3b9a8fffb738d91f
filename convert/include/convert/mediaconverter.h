#pragma once
// The conversion engine of the Convert dialog: turns one source file (anything
// AudioSourceFile opens) into a mu-law, 8000 Hz, mono WAV file through three codec stages
// (decode to 16-bit PCM, reduce channels and rate, encode), one source chunk per pass.
//
// Threads: the UI thread constructs it and runs OpenChain; from then until the completion
// message the conversion worker alone touches it (ConversionWorker, ConvertBlock,
// CloseChain). The only thing the UI thread may do meanwhile is RequestStop.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "codec/acm.h"
#include "media/audiosourcefile.h"
#include "media/formattagcatalog.h"
#include "media/sourceformatinfo.h"

constexpr unsigned WM_USER = 0x0400;
// Posted by the conversion worker: wParam 0 = progress (lParam whole seconds of output
// written so far), wParam 1 = ended, output file closed (lParam 0), or, with lParam
// kConvertWriteFailed, ended because the output could not be written (a full disk): the
// incomplete output file has been removed.
constexpr unsigned WM_CONVERT_DONE = WM_USER + 200;  // 1224
constexpr intptr_t kConvertWriteFailed = 1;

// Where the worker posts WM_CONVERT_DONE. Implementations only queue the message for the
// UI thread (called on the worker thread); the messages must arrive in order.
class ConvertDoneSink {
public:
    virtual ~ConvertDoneSink() = default;
    virtual void PostConvertDone(uintptr_t wParam, intptr_t lParam) = 0;
};

class MediaConverter {
public:
    MediaConverter();
    MediaConverter(const MediaConverter&) = delete;
    MediaConverter& operator=(const MediaConverter&) = delete;
    // Closes a chain left open (the output then keeps a valid header).
    virtual ~MediaConverter();

    // Opens the source, creates the output (completing outputFormat in place; it must hold
    // FormatRecordSize() bytes and outlive the chain) and readies the three stages. False
    // when any step fails; input and output are then closed.
    bool OpenChain(const char* sourcePath, const char* outputPath, uint8_t* outputFormat);
    // One source chunk through the three stages. At the end of the source (or a read error)
    // the partial last chunk and what the decoder holds are converted, then one more pass
    // gives the rate converter's tail; after that, false. Otherwise true with `out` holding
    // outLength encoded bytes (maybe none).
    bool ConvertBlock(std::unique_ptr<uint8_t[]>& out, uint32_t& outLength);
    // Releases the stages, closes the input and completes the output file. Returns true.
    bool CloseChain();
    // The worker thread's routine: converts until the end (or a stop request, or a write
    // that fails), appending to the output and posting progress, then closes the chain and
    // posts completion.
    // Returns the thread's exit code, 0. Reading and decoding run on a helper thread of
    // its own, one block ahead or more, while this thread finishes the blocks in order;
    // the helper has ended before the chain is closed.
    int ConversionWorker(ConvertDoneSink& dialog);
    // Asks a running worker to finish at its next pass. Any thread.
    void RequestStop() { m_stopRequested.store(true, std::memory_order_relaxed); }

    const FormatTagCatalog& Catalog() const { return m_catalog; }
    // The size of every format record of the conversion: the catalogue's largest format,
    // never less than a whole WAVEFORMATEX.
    uint32_t FormatRecordSize() const;
    bool IsOpen() const { return m_stream[0] != nullptr; }
    const SourceFormatInfo& SourceInfo() const { return m_sourceInfo; }

private:
    static constexpr int kStages = 3;

    // Where the input stands: chunks still to read; read to its end, stage 1 still to
    // drain; everything decoded.
    enum class InputState { Reading, Draining, Done };

    // Reads one chunk (at the end: the partial chunk, then what stage 1 still holds) and
    // decodes it into stage 1's destination: the decoded length, or -1 once all is decoded.
    int64_t DecodeChunk();
    // Stages 2 and 3 for `length` decoded bytes; `end` drains the rate converter. False when
    // a stage cannot be prepared.
    bool EncodeDecoded(const uint8_t* decoded, uint32_t length, bool end,
                       std::unique_ptr<uint8_t[]>& out, uint32_t& outLength);
    // Writes one encoded block and posts the progress after it. A block that cannot be
    // written in full stops the conversion.
    void Deliver(const uint8_t* data, uint32_t length, uint64_t& total, uint32_t bytesPerSecond,
                 ConvertDoneSink& dialog);
    // The worker's passes on its own thread (when no helper thread can be started).
    void ConvertSequential(uint32_t bytesPerSecond, ConvertDoneSink& dialog);
    void ConvertPipelined(uint32_t bytesPerSecond, ConvertDoneSink& dialog);
    bool OpenStages();
    bool PrepareStage(int stage, uint32_t sourceLength);
    void UnprepareStage(int stage);
    void CloseStages();

    FormatTagCatalog m_catalog;
    AudioSourceFile m_input;
    AudioSourceFile m_output;
    SourceFormatInfo m_sourceInfo;
    uint8_t* m_outputFormat = nullptr;  // the dialog's record, valid while a chain is open
    std::string m_outputPath;
    bool m_writeFailed = false;  // the worker's own: set and read on its thread
    InputState m_inputState = InputState::Reading;  // the decoding thread's
    bool m_tailDone = false;                        // ConvertBlock has given the tail

    HACMSTREAM m_stream[kStages] = {};
    ACMSTREAMHEADER m_header[kStages] = {};
    std::unique_ptr<uint8_t[]> m_sourceBuffer;  // stage 1's source: one chunk
    uint32_t m_sourceLength = 0;
    std::unique_ptr<uint8_t[]> m_destBuffer[kStages];
    // Stage 2 reads its own copy of the decoded block, so that the next chunk can be decoded
    // into stage 1's buffer meanwhile.
    std::unique_ptr<uint8_t[]> m_mixSource;
    uint32_t m_destLength[kStages] = {};  // 0: the stage is not prepared

    // Set by the UI thread, polled by the worker before each pass. Relaxed is enough: it
    // guards no data, and the join after the worker ends orders everything it wrote.
    std::atomic<bool> m_stopRequested{false};
};
