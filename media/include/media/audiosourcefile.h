#pragma once
// The only access to audio files. Read mode: Open recognises an MP3 or WAV source (a RIFF
// WAVE header wins over the name; otherwise a ".mp3" name means MPEG audio), validates and
// measures it, fills a SourceFormatInfo and a description text, and leaves the source
// positioned at the first audio byte for chunked Read calls. It reads a file, or any byte
// source (memory, for the fuzzers). Write mode: Create makes a WAV file with a provisional
// header under a temporary name, Write appends audio, Close completes the header and puts
// the file in place; Abandon drops it. One thread at a time; no lock. The destructor closes
// what is left open.

#include <cstdint>
#include <memory>
#include <string>

#include "media/sourceformatinfo.h"
#include "platform/bytesource.h"
#include "platform/outputfile.h"

enum class MediaType : int { None = 0, Wave = 1, Mp3 = 2 };

class AudioSourceFile {
public:
    AudioSourceFile() = default;
    AudioSourceFile(const AudioSourceFile&) = delete;
    AudioSourceFile& operator=(const AudioSourceFile&) = delete;
    virtual ~AudioSourceFile();

    // True when the file was opened and understood; it then stays open for Read. On false
    // the object is closed and info and description are unchanged. False on an open object.
    bool Open(const char* path, SourceFormatInfo& info, std::string& description);
    // The same over bytes already at hand; `name` stands for the file's name.
    bool Open(std::unique_ptr<platform::ByteSource> bytes, const char* name, SourceFormatInfo& info,
              std::string& description);
    // Bytes read (0 at end of file, -1 on error), 0 when not open. offset -1 reads from the
    // current position; any other offset seeks there first. Small sequential reads are
    // served from a read-ahead buffer: a read that fails after some bytes returns those.
    int Read(void* buffer, int count, long offset = -1);
    // True once a read came back short before the length the source had when it was opened
    // (it shrank meanwhile) or failed: the audio was not all there.
    bool EndedEarly() const { return m_endedEarly; }
    int32_t DurationSeconds() const { return m_durationSeconds; }
    int64_t DurationMs() const { return m_durationMs; }
    // Read mode: closes. Write mode: completes the header and puts the file in place under
    // its name; false when that fails or a write failed before (the file is then dropped and
    // an earlier file of that name kept). True on a closed object.
    bool Close();
    // Write mode: drops the file being written, leaving an earlier one of its name as it was.
    // Otherwise the same as Close.
    void Abandon();

    // Starts a WAV file (under a temporary name beside `path`) with the provisional header;
    // outputFormat (an 18-byte WAVEFORMATEX) is completed in place. False when open,
    // uncreatable or ".mp3"; RefusalReason() then says why.
    bool Create(const char* path, uint8_t* outputFormat);
    // Appends bytes; returns the count written, -1 on error (a full disk), 0 when not open.
    int Write(const void* buffer, int count);

    // Why the latest Open or Create refused ("LIST chunk of 9 bytes runs past the end of the
    // file"); empty after one that succeeded.
    const std::string& RefusalReason() const { return m_refusal; }

    bool IsOpen() const { return m_bytes != nullptr || m_out.IsOpen(); }
    MediaType Type() const { return m_type; }

    // Mp3 for a ".mp3" extension in any case ("LOUD.MP3"), otherwise Wave.
    static MediaType TypeFromExtension(const char* path);

private:
    // Keeps the reason for the caller; returns false.
    bool Refuse(std::string reason);
    // A RIFF WAVE header, whatever the name; otherwise the name decides.
    MediaType TypeOfContent(const char* name);
    bool ParseWave(std::string& description, int32_t& formatSize);
    bool ReadFormatChunk(uint32_t size, int32_t& formatSize);
    bool ReadFactChunk(uint32_t size);
    bool ReadDataChunk(uint32_t size);
    bool SkipChunk(const uint8_t* header, uint32_t size);
    bool OpenMp3(std::string& description, int32_t& formatSize);
    // Reads until `count` bytes are in or the source gives no more; returns the bytes read.
    uint32_t ReadFully(uint8_t* buffer, uint32_t count);
    // False when the provisional header could not be written in full.
    bool WriteWaveHeader(uint8_t* outputFormat);
    bool CompleteWaveHeader();
    bool WriteHeaders();
    // Zeroes the four chunk headers and drops the fact chunk's body.
    void ResetHeaders();
    // Copies up to count bytes read ahead; returns how many.
    uint32_t TakeReadAhead(uint8_t* out, uint32_t count);
    // A large read goes straight into `out`, a small one refills the read-ahead first; the
    // bytes given, or -1.
    int ReadFromSource(uint8_t* out, uint32_t count);
    void Release();

    std::unique_ptr<platform::ByteSource> m_bytes;  // read mode
    platform::OutputFile m_out;                     // write mode
    bool m_writeMode = false;
    MediaType m_type = MediaType::None;
    uint32_t m_dataOffset = 0;
    uint32_t m_dataLength = 0;
    int32_t m_durationSeconds = 0;
    int64_t m_durationMs = 0;
    uint8_t m_riffHeader[12] = {};
    uint8_t m_formatHeader[8] = {};
    uint8_t m_factHeader[8] = {};
    uint8_t m_dataHeader[8] = {};
    std::unique_ptr<uint8_t[]> m_factData;
    uint32_t m_factDataSize = 0;
    std::unique_ptr<uint8_t[]> m_format;
    uint32_t m_formatBytes = 0;  // allocated size of m_format
    std::string m_refusal;
    // Read mode: the source's length at Open, where the caller's reads stand, and whether
    // one ended before that length.
    uint64_t m_openedLength = 0;
    uint64_t m_readPosition = 0;
    bool m_endedEarly = false;
    // Read mode: bytes read from the source but not yet by the caller, [m_aheadBegin,
    // m_aheadEnd) of m_readAhead.
    std::unique_ptr<uint8_t[]> m_readAhead;
    uint32_t m_aheadBegin = 0;
    uint32_t m_aheadEnd = 0;
};
