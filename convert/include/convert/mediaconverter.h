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

#include "codec/waveformat.h"
#include "media/audiosourcefile.h"
#include "media/codecchain.h"
#include "media/formattagcatalog.h"
#include "media/sourceformatinfo.h"
#include "platform/windowmessages.h"

// Posted by the conversion worker: wParam 0 = progress (lParam whole seconds of output
// written so far), wParam 1 = ended, output file in place (lParam 0), or ended without output
// (lParam one of the values below); an earlier file of the output's name is then untouched.
constexpr unsigned WM_CONVERT_DONE = kWmUser + 200;  // 1224
constexpr intptr_t kConvertWriteFailed = 1;   // the output could not be written (a full disk)
constexpr intptr_t kConvertSourceFailed = 2;  // the input shrank or failed while it was read
constexpr intptr_t kConvertStopped = 3;       // RequestStop came first

// Why OpenChain failed.
enum class ChainFailure { None, Source, Output, Codec };

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
    // Drops the output of a chain left open.
    virtual ~MediaConverter();

    // Opens the source, creates the output (under a temporary name; completing outputFormat
    // in place, which must hold FormatRecordSize() bytes and outlive the chain) and readies
    // the three stages. False when any step fails (Failure() says which); input and output
    // are then closed and nothing is left on disk. `bytes`, when given, are the source's
    // bytes already at hand (memory, for the fuzzer); sourcePath then only names them.
    bool OpenChain(const char* sourcePath, const char* outputPath, uint8_t* outputFormat,
                   std::unique_ptr<platform::ByteSource> bytes = nullptr);
    ChainFailure Failure() const { return m_failure; }
    // The system's reason when the output could not be created; empty otherwise.
    const std::string& OutputError() const { return m_outputError; }
    // One source chunk through the three stages. At the end of the source (or a read error)
    // the partial last chunk and what the decoder holds are converted, then one more pass
    // gives the rate converter's tail; after that, false. Otherwise true with `out` holding
    // outLength encoded bytes (maybe none).
    bool ConvertBlock(std::unique_ptr<uint8_t[]>& out, uint32_t& outLength);
    // Releases the stages, closes the input and completes the output file, putting it in
    // place under its name. False when that failed (the output is then dropped).
    bool CloseChain();
    // The worker thread's routine: converts until the end (or a stop request, or a write
    // that fails), appending to the output and posting progress, then closes the chain and
    // posts completion. Only a conversion that read the whole input and wrote all of it puts
    // the output in place; any other is dropped.
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
    // Fills a record of FormatRecordSize() bytes with the tool's output format, zero beyond
    // the WAVEFORMATEX: mu-law 8000 Hz mono (the dialog's one), or with WAVE_FORMAT_G722_ADPCM
    // G.722 at 16 kHz mono, 64 kbit/s (the command line's --codec g722).
    void WriteOutputFormat(uint8_t* record, uint16_t tag = WAVE_FORMAT_MULAW) const;
    bool IsOpen() const { return m_chain.IsPrepared(); }
    const SourceFormatInfo& SourceInfo() const { return m_sourceInfo; }

private:
    // Opens and prepares the stages, each for the largest length the one before it gives.
    bool OpenStages();
    // Stages 2 and 3 for `length` decoded bytes (at most a chunk's); `end` drains the rate
    // converter. Returns the encoded bytes, in the chain's encoded buffer.
    uint32_t EncodeChunk(const uint8_t* decoded, uint32_t length, bool end);
    // How the worker's conversion ended: 0 or a kConvert* value.
    intptr_t Outcome() const;
    // Closes the chain, committing the output when the outcome is 0 and dropping it
    // otherwise; returns the final outcome.
    intptr_t FinishChain(intptr_t outcome);
    bool Refuse(ChainFailure failure);
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
    CodecChain m_chain;  // the input and the three stages
    AudioSourceFile m_output;
    SourceFormatInfo m_sourceInfo;
    uint8_t* m_outputFormat = nullptr;  // the dialog's record, valid while a chain is open
    ChainFailure m_failure = ChainFailure::None;
    std::string m_outputError;
    bool m_writeFailed = false;  // the worker's own: set and read on its thread
    bool m_tailDone = false;     // ConvertBlock has given the tail
    // Encoded bytes not yet written: the output is written in pieces of about kWriteBytes
    // rather than once per chunk (an MP3 chunk encodes to a few hundred bytes).
    static constexpr size_t kWriteBytes = size_t{64} << 10;
    std::vector<uint8_t> m_pending;

    // Set by the UI thread, polled by the worker before each pass. Relaxed is enough: it
    // guards no data, and the join after the worker ends orders everything it wrote.
    std::atomic<bool> m_stopRequested{false};
};
