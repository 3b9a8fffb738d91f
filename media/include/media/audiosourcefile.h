#pragma once
// The only access to audio files on disk. Read mode: Open recognises an MP3 or WAV source
// by its name, validates and measures it, fills a SourceFormatInfo and a description text,
// and leaves the file positioned at the first audio byte for chunked Read calls. Write mode:
// Create makes a WAV file with a provisional header, Write appends audio, Close completes
// the header. One thread at a time; no lock. Callers Close; the destructor closes what is left
// open.

#include <cstdint>
#include <memory>
#include <string>

#include "media/sourceformatinfo.h"

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
    // Bytes read (0 at end of file, -1 on error), 0 when not open. offset -1 reads from the
    // current position; any other offset seeks there first. Small sequential reads are
    // served from a read-ahead buffer: a read that fails after some bytes returns those.
    int Read(void* buffer, int count, long offset = -1);
    int32_t DurationSeconds() const { return m_durationSeconds; }
    // Completes the header in write mode, closes the handle, releases the buffers.
    void Close();

    // Creates or truncates a WAV file and writes the provisional header; outputFormat (an
    // 18-byte WAVEFORMATEX) is completed in place. False when open, uncreatable or ".mp3".
    bool Create(const char* path, uint8_t* outputFormat);
    // Appends bytes; returns the count written, -1 on error, 0 when not open.
    int Write(const void* buffer, int count);

    // Why the latest Open refused the file ("LIST chunk before the data chunk"); empty after
    // an Open that succeeded.
    const std::string& RefusalReason() const { return m_refusal; }

    bool IsOpen() const { return m_fd > 0; }
    MediaType Type() const { return m_type; }

    // Mp3 for a ".mp3" extension in any case ("LOUD.MP3"), otherwise Wave.
    static MediaType TypeFromExtension(const char* path);

private:
    // Keeps the reason for the caller; returns false.
    bool Refuse(std::string reason);
    bool ParseWave(std::string& description, int32_t& formatSize);
    bool OpenMp3(std::string& description, int32_t& formatSize);
    // False when the provisional header could not be written in full.
    bool WriteWaveHeader(uint8_t* outputFormat);
    void CompleteWaveHeader();
    // Zeroes the four chunk headers and drops the fact chunk's body.
    void ResetHeaders();
    // Copies up to count bytes read ahead; returns how many.
    uint32_t TakeReadAhead(uint8_t* out, uint32_t count);

    int m_fd = 0;
    bool m_writeMode = false;
    MediaType m_type = MediaType::None;
    uint32_t m_dataOffset = 0;
    uint32_t m_dataLength = 0;
    int32_t m_durationSeconds = 0;
    uint8_t m_riffHeader[12] = {};
    uint8_t m_formatHeader[8] = {};
    uint8_t m_factHeader[8] = {};
    uint8_t m_dataHeader[8] = {};
    std::unique_ptr<uint8_t[]> m_factData;
    uint32_t m_factDataSize = 0;
    std::unique_ptr<uint8_t[]> m_format;
    uint32_t m_formatBytes = 0;  // allocated size of m_format
    std::string m_refusal;
    // Read mode: bytes read from the file but not yet by the caller, [m_aheadBegin,
    // m_aheadEnd) of m_readAhead.
    std::unique_ptr<uint8_t[]> m_readAhead;
    uint32_t m_aheadBegin = 0;
    uint32_t m_aheadEnd = 0;
};
