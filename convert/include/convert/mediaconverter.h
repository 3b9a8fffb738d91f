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
#include <vector>

#include "codec/codecstage.h"
#include "media/audiosourcefile.h"
#include "media/formattagcatalog.h"
#include "media/sourceformatinfo.h"
#include "platform/windowmessages.h"

// Posted by the conversion worker: wParam 0 = progress (lParam whole seconds of output
// written so far), wParam 1 = ended, output file closed (lParam 0), or, with lParam
// kConvertWriteFailed, ended because the output could not be written (a full disk): the
// incomplete output file has been removed.
constexpr unsigned WM_CONVERT_DONE = kWmUser + 200;  // 1224
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
    // their own, ahead of this thread, which finishes the chunks in order (on this thread
    // alone when no helper can be started: the same chunks, the same output); the helper has
    // ended before the chain is closed.
    int ConversionWorker(ConvertDoneSink& dialog);
    // Asks a running worker to finish at its next pass. Any thread.
    void RequestStop() { m_stopRequested.store(true, std::memory_order_relaxed); }

    const FormatTagCatalog& Catalog() const { return m_catalog; }
    // The size of every format record of the conversion: the catalogue's largest format,
    // never less than a whole WAVEFORMATEX.
    uint32_t FormatRecordSize() const;
    // Fills a record of FormatRecordSize() bytes with the tool's one output format, mu-law
    // 8000 Hz mono, zero beyond the WAVEFORMATEX.
    void WriteOutputFormat(uint8_t* record) const;
    bool IsOpen() const { return m_stage[0].IsOpen(); }
    const SourceFormatInfo& SourceInfo() const { return m_sourceInfo; }

private:
    static constexpr int kStages = 3;

    // Where the input stands: chunks still to read; read to its end, stage 1 still to
    // drain; everything decoded.
    enum class InputState { Reading, Draining, Done };

    bool OpenStages();
    // Prepares each stage once, for the largest length the stage before it can give.
    bool PrepareStages();
    void ReleaseStages();
    // Reads one chunk (at the end: the partial chunk, then what stage 1 still holds) and
    // decodes it into stage 1's destination: the decoded length, or -1 once all is decoded.
    int64_t DecodeChunk();
    // Stages 2 and 3 for `length` decoded bytes (at most stage 1's destination length);
    // `end` drains the rate converter. Returns the encoded bytes, in stage 3's destination.
    uint32_t EncodeChunk(const uint8_t* decoded, uint32_t length, bool end);
    // Appends the encoded bytes to the output and posts the progress after them.
    void Deliver(uint32_t length, uint64_t& total, uint32_t bytesPerSecond,
                 ConvertDoneSink& dialog);
    // Writes what Deliver gathered. False, with the conversion stopped, when the output
    // refuses it (a full disk).
    bool WritePending();
    // The worker's passes: every decoded chunk, then the rate converter's tail, each
    // encoded and delivered in order.
    void ConvertAll(uint32_t bytesPerSecond, ConvertDoneSink& dialog);
    bool Stopped() const { return m_stopRequested.load(std::memory_order_relaxed); }

    FormatTagCatalog m_catalog;
    AudioSourceFile m_input;
    AudioSourceFile m_output;
    SourceFormatInfo m_sourceInfo;
    uint8_t* m_outputFormat = nullptr;  // the dialog's record, valid while a chain is open
    std::string m_outputPath;
    bool m_writeFailed = false;                     // the worker's own: set and read on its thread
    InputState m_inputState = InputState::Reading;  // the decoding thread's
    bool m_tailDone = false;                        // ConvertBlock has given the tail

    // Source format -> PCM A (decoding), PCM A -> PCM B (channels and rate), PCM B -> the
    // output format (encoding).
    CodecStage m_stage[kStages];
    std::unique_ptr<uint8_t[]> m_sourceBuffer;  // stage 1's source: one chunk
    // Stage 2 reads its own copy of the decoded chunk, so that the next chunk can be decoded
    // into stage 1's destination meanwhile.
    std::unique_ptr<uint8_t[]> m_mixSource;
    std::unique_ptr<uint8_t[]> m_destBuffer[kStages];
    // Encoded bytes not yet written: the output is written in pieces of about kWriteBytes
    // rather than once per chunk (an MP3 chunk encodes to a few hundred bytes).
    static constexpr size_t kWriteBytes = size_t{64} << 10;
    std::vector<uint8_t> m_pending;

    // Set by the UI thread, polled by the worker before each pass. Relaxed is enough: it
    // guards no data, and the join after the worker ends orders everything it wrote.
    std::atomic<bool> m_stopRequested{false};
};
