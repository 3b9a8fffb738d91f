#include "media/audiosourcefile.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <string>

#include "codec/waveformat.h"
#include "media/mediadescription.h"
#include "media/mp3framescanner.h"
#include "platform/byteorder.h"
#include "platform/splitpath.h"

namespace {

// A chunk id as text: its printable bytes as they are, any other as \xNN.
std::string ChunkName(const uint8_t* id) {
    std::string name;
    for (int i = 0; i < 4; ++i) {
        if (std::isprint(id[i]) != 0) {
            name += static_cast<char>(id[i]);
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            name += "\\x";
            name += kHex[id[i] >> 4];
            name += kHex[id[i] & 0x0F];
        }
    }
    return name;
}

// The largest "fmt " body a 16-bit cbSize can describe (18 + 65535). A "fmt " or "fact"
// chunk declaring more is refused before anything is allocated.
constexpr uint32_t kMaxHeaderChunkBytes = 18 + 0xFFFF;
// Bytes the pipeline reads per step for ADPCM sources.
constexpr int32_t kAdpcmChunkBytes = 43008;
// One second of audio above this is no real format (it would make every reader allocate
// hundreds of megabytes); 16 MiB still covers 32-bit, 16 channels at 192 kHz with room.
constexpr uint32_t kMaxWaveChunkBytes = 16u * 1024 * 1024;
constexpr int32_t kMp3ChunkBytes = 522;
constexpr int32_t kMp3FormatBytes = 30;
constexpr uint16_t kMp3CodecDelay = 1393;
constexpr uint32_t kWaveFormatBytes = sizeof(WAVEFORMATEX);
// Sequential reads smaller than this are served from a buffer filled this much at a time, so
// that a reader taking 522-byte MP3 chunks makes one system call per 64 KiB, not per chunk.
constexpr uint32_t kReadAheadBytes = 64 * 1024;

void SetChunkHeader(uint8_t* header, const char* id, uint32_t size) {
    std::memcpy(header, id, 4);
    platform::StoreLe32(header + 4, size);
}

bool HasId(const uint8_t* header, const char* id) {
    return std::memcmp(header, id, 4) == 0;
}

// Offsets are carried in 32 bits: a source of 2 GiB or more is refused.
constexpr int64_t kMaxSourceBytes = INT32_MAX;

// Bytes read per pipeline step: a fixed block for ADPCM; one second of audio for formats
// with a sample size (the product of the format's fields, in 64 bits so that no field can
// overflow it); for coded formats without one (GSM 6.10, MPEG audio in a WAV file) the whole
// number of blocks nearest to one second, at least one. 0 when neither size is known.
uint64_t WaveChunkBytes(const WAVEFORMATEX& format) {
    if (format.wFormatTag == WAVE_FORMAT_ADPCM || format.wFormatTag == WAVE_FORMAT_DVI_ADPCM) {
        return kAdpcmChunkBytes;
    }
    if (format.wBitsPerSample != 0) {
        return uint64_t{format.wBitsPerSample} * format.nChannels * format.nSamplesPerSec / 8u;
    }
    const uint64_t block = format.nBlockAlign;
    if (block == 0) {
        return 0;
    }
    const uint64_t blocks = (uint64_t{format.nAvgBytesPerSec} + block / 2) / block;
    return (blocks == 0 ? 1 : blocks) * block;
}

}  // namespace

AudioSourceFile::~AudioSourceFile() {
    Abandon();
}

MediaType AudioSourceFile::TypeFromExtension(const char* path) {
    if (path == nullptr) {
        return MediaType::Wave;
    }
    // Desktops list LOUD.MP3 beside loud.mp3: the extension's case does not matter.
    const std::string ext = platform::_splitpath(path).ext;
    const bool mp3 = ext.size() == 4 && ext[0] == '.' &&
                     std::tolower(static_cast<unsigned char>(ext[1])) == 'm' &&
                     std::tolower(static_cast<unsigned char>(ext[2])) == 'p' && ext[3] == '3';
    return mp3 ? MediaType::Mp3 : MediaType::Wave;
}

bool AudioSourceFile::Open(const char* path, SourceFormatInfo& info, std::string& description) {
    // An open object (in either mode) is left exactly as it is.
    if (IsOpen()) {
        return false;
    }
    std::string error;
    std::unique_ptr<platform::FileByteSource> file = platform::FileByteSource::Open(path, error);
    if (!file) {
        m_writeMode = false;
        return Refuse(error);
    }
    return Open(std::move(file), path, info, description);
}

bool AudioSourceFile::Open(std::unique_ptr<platform::ByteSource> bytes, const char* name,
                           SourceFormatInfo& info, std::string& description) {
    if (IsOpen() || !bytes) {
        return false;
    }
    m_writeMode = false;
    m_refusal.clear();
    m_bytes = std::move(bytes);
    m_format.reset();
    m_formatBytes = 0;
    const int64_t length = m_bytes->Size();
    m_type = TypeOfContent(name);

    std::string text;
    int32_t formatSize = 0;
    bool ok = length >= 0 && length <= kMaxSourceBytes;
    if (!ok) {
        Refuse(length < 0 ? "the file cannot be measured" : "the file is 2 GiB or larger");
    } else if (m_type == MediaType::Wave) {
        ok = ParseWave(text, formatSize);
    } else {
        ok = OpenMp3(text, formatSize);
    }
    if (!ok) {
        Release();
        return false;
    }
    int32_t chunkBytes = kMp3ChunkBytes;
    if (m_type == MediaType::Wave) {
        WAVEFORMATEX wfx{};
        ReadWaveFormat(m_format.get(), m_formatBytes, wfx);
        chunkBytes = static_cast<int32_t>(WaveChunkBytes(wfx));  // ParseWave bounds it
    }
    m_readAhead = std::make_unique_for_overwrite<uint8_t[]>(kReadAheadBytes);
    m_aheadBegin = 0;
    m_aheadEnd = 0;
    m_openedLength = static_cast<uint64_t>(length);
    m_readPosition = m_bytes->Tell();
    m_endedEarly = false;
    info.SetFormat(m_format.get(), formatSize);
    info.chunkBytes = chunkBytes;
    info.durationSeconds = m_durationSeconds;
    info.durationMs = m_durationMs;
    description = std::move(text);
    return true;
}

MediaType AudioSourceFile::TypeOfContent(const char* name) {
    // A WAV file renamed to .mp3 would otherwise meet the frame scanner, which finds frames
    // in PCM often enough to accept it, and stream noise.
    uint8_t riff[12];
    const bool wave = ReadFully(riff, sizeof riff) == sizeof riff && HasId(riff, "RIFF") &&
                      HasId(riff + 8, "WAVE");
    m_bytes->Seek(0);
    return wave ? MediaType::Wave : TypeFromExtension(name);
}

bool AudioSourceFile::Refuse(std::string reason) {
    m_refusal = std::move(reason);
    return false;
}

uint32_t AudioSourceFile::ReadFully(uint8_t* buffer, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        const int64_t n = m_bytes->Read(buffer + done, count - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    return done;
}

void AudioSourceFile::ResetHeaders() {
    std::memset(m_riffHeader, 0, sizeof m_riffHeader);
    std::memset(m_formatHeader, 0, sizeof m_formatHeader);
    std::memset(m_factHeader, 0, sizeof m_factHeader);
    std::memset(m_dataHeader, 0, sizeof m_dataHeader);
    m_factData.reset();
    m_factDataSize = 0;
}

bool AudioSourceFile::ParseWave(std::string& description, int32_t& formatSize) {
    ResetHeaders();
    m_format.reset();
    m_formatBytes = 0;
    formatSize = 0;

    if (ReadFully(m_riffHeader, sizeof m_riffHeader) < sizeof m_riffHeader ||
        !HasId(m_riffHeader, "RIFF") || !HasId(m_riffHeader + 8, "WAVE")) {
        return Refuse("not a RIFF WAVE file");
    }
    for (bool data = false; !data;) {
        uint8_t header[8];
        if (ReadFully(header, sizeof header) < sizeof header) {
            return Refuse("the file ends before its data chunk");
        }
        const uint32_t size = platform::LoadLe32(header + 4);
        bool ok;
        if (HasId(header, "fmt ")) {
            std::memcpy(m_formatHeader, header, sizeof header);
            ok = ReadFormatChunk(size, formatSize);
        } else if (HasId(header, "fact")) {
            std::memcpy(m_factHeader, header, sizeof header);
            ok = ReadFactChunk(size);
        } else if (HasId(header, "data")) {
            std::memcpy(m_dataHeader, header, sizeof header);
            ok = data = ReadDataChunk(size);
        } else {
            ok = SkipChunk(header, size);
        }
        if (!ok) {
            return false;
        }
    }

    WAVEFORMATEX wfx{};
    ReadWaveFormat(m_format.get(), m_formatBytes, wfx);
    // A format without channels or rate, or one whose step would be empty (readers would
    // spin on zero-byte reads) or absurdly large, is not playable.
    const uint64_t chunkBytes = WaveChunkBytes(wfx);
    if (wfx.nChannels == 0 || wfx.nSamplesPerSec == 0 || chunkBytes == 0 ||
        chunkBytes > kMaxWaveChunkBytes) {
        return Refuse("a format without channels, rate or a usable block size");
    }
    // Rounded, as every whole second shown: 2.6 s of audio is 3 s, not 2.
    m_durationMs = wfx.nAvgBytesPerSec == 0
                       ? 0
                       : static_cast<int64_t>(static_cast<uint64_t>(m_dataLength) * 1000 /
                                              wfx.nAvgBytesPerSec);
    m_durationSeconds =
        wfx.nAvgBytesPerSec == 0
            ? 0
            : static_cast<int32_t>((static_cast<uint64_t>(m_dataLength) + wfx.nAvgBytesPerSec / 2) /
                                   wfx.nAvgBytesPerSec);
    BuildWaveDescription(description, static_cast<uint32_t>(m_bytes->Size()), wfx,
                         m_durationSeconds);
    return true;
}

bool AudioSourceFile::ReadFormatChunk(uint32_t size, int32_t& formatSize) {
    // Shorter than 16 bytes there is no rate or channel count to read.
    if (size < 16 || size > kMaxHeaderChunkBytes) {
        return Refuse(size < 16 ? std::string("fmt chunk shorter than 16 bytes")
                                : "fmt chunk of " + std::to_string(size) + " bytes, too large");
    }
    m_formatBytes = size < kWaveFormatBytes ? kWaveFormatBytes : size;
    m_format = std::make_unique<uint8_t[]>(m_formatBytes);  // zero-filled
    if (ReadFully(m_format.get(), size) < size) {
        return Refuse("the file ends inside its fmt chunk");
    }
    formatSize = static_cast<int32_t>(size);
    return true;
}

bool AudioSourceFile::ReadFactChunk(uint32_t size) {
    if (size > kMaxHeaderChunkBytes) {
        return Refuse("fact chunk of " + std::to_string(size) + " bytes, too large");
    }
    m_factData.reset();
    m_factDataSize = size;
    if (size > 0) {
        m_factData = std::make_unique<uint8_t[]>(size);
        ReadFully(m_factData.get(), size);  // a short body ends the walk next
    }
    return true;
}

bool AudioSourceFile::ReadDataChunk(uint32_t size) {
    const uint64_t pos = m_bytes->Tell();
    const int64_t length = m_bytes->Size();
    if (length < 0 || static_cast<uint64_t>(length) < pos) {
        return Refuse("the file cannot be measured");
    }
    if (!m_format) {
        return Refuse("data chunk before the fmt chunk");
    }
    m_dataOffset = static_cast<uint32_t>(pos);
    m_dataLength = static_cast<uint32_t>(static_cast<uint64_t>(length) - pos);
    if (size > m_dataLength) {
        return Refuse("data chunk of " + std::to_string(size) + " bytes, but only " +
                      std::to_string(m_dataLength) + " follow");
    }
    return true;
}

// Any other chunk ahead of the audio (LIST, JUNK, bext, PEAK, cue, ...) is passed over with
// its pad byte (RIFF keeps chunks at even offsets), as long as it ends inside the file.
bool AudioSourceFile::SkipChunk(const uint8_t* header, uint32_t size) {
    const uint64_t pos = m_bytes->Tell();
    const int64_t length = m_bytes->Size();
    if (length < 0 || pos + size > static_cast<uint64_t>(length)) {
        return Refuse(ChunkName(header) + " chunk of " + std::to_string(size) +
                      " bytes runs past the end of the file");
    }
    return m_bytes->Seek(pos + size + (size & 1u)) || Refuse("the file cannot be read");
}

bool AudioSourceFile::OpenMp3(std::string& description, int32_t& formatSize) {
    m_dataLength = static_cast<uint32_t>(m_bytes->Size());
    m_formatBytes = kMp3FormatBytes;
    m_format = std::make_unique<uint8_t[]>(m_formatBytes);
    formatSize = kMp3FormatBytes;

    Mp3FrameInfo frame;
    Mp3FrameScanner scanner;
    if (!scanner.Scan(*m_bytes, frame, description)) {
        return Refuse("no run of MPEG audio frames found");
    }
    m_durationSeconds = frame.durationSeconds;
    m_durationMs = frame.durationMs;

    MPEGLAYER3WAVEFORMAT mp3{};
    mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    mp3.wfx.nChannels = static_cast<uint16_t>(frame.channels);
    mp3.wfx.nSamplesPerSec = static_cast<uint32_t>(frame.sampleRate);
    mp3.wfx.nAvgBytesPerSec = static_cast<uint32_t>(frame.bitrateKbps) * 128u;  // 1024-bit kbit
    mp3.wfx.nBlockAlign = 1;
    mp3.wfx.wBitsPerSample = 0;
    mp3.wfx.cbSize = kMp3FormatBytes - sizeof(WAVEFORMATEX);
    mp3.wID = MPEGLAYER3_ID_MPEG;
    mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
    mp3.nBlockSize = kMp3ChunkBytes;
    mp3.nFramesPerBlock = 1;
    mp3.nCodecDelay = kMp3CodecDelay;
    WriteMp3WaveFormat(mp3, m_format.get());

    return m_bytes->Seek(static_cast<uint64_t>(frame.firstFrameOffset)) ||
           Refuse("the first frame cannot be reached");
}

int AudioSourceFile::Read(void* buffer, int count, long offset) {
    if (!m_bytes) {
        return 0;
    }
    if (count < 0 || (offset != -1 && offset < 0)) {
        return -1;
    }
    if (offset != -1) {
        // Whatever was read ahead lies behind the new position: a seek drops it.
        m_aheadBegin = m_aheadEnd = 0;
        if (!m_bytes->Seek(static_cast<uint64_t>(offset))) {
            return -1;
        }
        m_readPosition = static_cast<uint64_t>(offset);
    }
    const auto wanted = static_cast<uint32_t>(count);
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = TakeReadAhead(out, wanted);
    if (done < wanted) {
        const int n = ReadFromSource(out + done, wanted - done);
        if (n < 0 && done == 0) {
            m_endedEarly = true;
            return -1;
        }
        done += n > 0 ? static_cast<uint32_t>(n) : 0;
    }
    m_readPosition += done;
    if (done < wanted && m_readPosition < m_openedLength) {
        m_endedEarly = true;
    }
    return static_cast<int>(done);
}

int AudioSourceFile::ReadFromSource(uint8_t* out, uint32_t count) {
    if (count >= kReadAheadBytes) {
        return static_cast<int>(m_bytes->Read(out, count));
    }
    const int64_t n = m_bytes->Read(m_readAhead.get(), kReadAheadBytes);
    if (n < 0) {
        return -1;
    }
    m_aheadEnd = static_cast<uint32_t>(n);
    return static_cast<int>(TakeReadAhead(out, count));
}

uint32_t AudioSourceFile::TakeReadAhead(uint8_t* out, uint32_t count) {
    const uint32_t n = std::min(count, m_aheadEnd - m_aheadBegin);
    std::memcpy(out, m_readAhead.get() + m_aheadBegin, n);
    m_aheadBegin += n;
    if (m_aheadBegin == m_aheadEnd) {
        m_aheadBegin = m_aheadEnd = 0;
    }
    return n;
}

bool AudioSourceFile::Close() {
    bool ok = true;
    if (m_out.IsOpen()) {
        ok = CompleteWaveHeader() && m_out.Commit();
        if (!ok) {
            m_refusal = m_out.Error();
        }
    }
    Release();
    return ok;
}

void AudioSourceFile::Abandon() {
    m_out.Abandon();
    Release();
}

void AudioSourceFile::Release() {
    m_out.Abandon();  // only a file that was not committed
    m_bytes.reset();
    m_factData.reset();
    m_factDataSize = 0;
    m_format.reset();
    m_formatBytes = 0;
    m_readAhead.reset();
    m_aheadBegin = m_aheadEnd = 0;
    m_writeMode = false;
    m_type = MediaType::None;
}

bool AudioSourceFile::Create(const char* path, uint8_t* outputFormat) {
    if (IsOpen() || outputFormat == nullptr) {
        return false;
    }
    m_refusal.clear();
    // Judged by name before anything is made: no stray file for a refused one.
    if (TypeFromExtension(path) != MediaType::Wave) {
        return Refuse("an output named .mp3 cannot hold a WAV file");
    }
    if (!m_out.Create(path)) {
        return Refuse(m_out.Error());
    }
    m_writeMode = true;
    m_format.reset();
    m_formatBytes = 0;
    m_type = MediaType::Wave;
    if (!WriteWaveHeader(outputFormat)) {
        Refuse(m_out.Error());
        Abandon();
        return false;
    }
    return true;
}

bool AudioSourceFile::WriteWaveHeader(uint8_t* outputFormat) {
    ResetHeaders();
    m_formatBytes = kWaveFormatBytes;
    m_format = std::make_unique<uint8_t[]>(m_formatBytes);

    WAVEFORMATEX proposed{};
    ReadWaveFormat(outputFormat, kWaveFormatBytes, proposed);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = proposed.wFormatTag;
    wfx.nChannels = proposed.nChannels;
    wfx.nSamplesPerSec = proposed.nSamplesPerSec;
    if (wfx.wFormatTag == WAVE_FORMAT_ALAW || wfx.wFormatTag == WAVE_FORMAT_MULAW) {
        wfx.wBitsPerSample = 8;
    } else if (wfx.wFormatTag == WAVE_FORMAT_G729A) {
        wfx.wBitsPerSample = 1;
    } else {
        wfx.wBitsPerSample = 16;
    }
    wfx.nBlockAlign = static_cast<uint16_t>(wfx.nChannels * wfx.wBitsPerSample / 8);
    if (wfx.wFormatTag == WAVE_FORMAT_G722_ADPCM) {
        // 4 bits a sample at 16 kHz: 64 kbit/s in whole bytes, the one rate G.722 has here.
        wfx.wBitsPerSample = 4;
        wfx.nBlockAlign = 1;
        wfx.nAvgBytesPerSec = wfx.nSamplesPerSec / 2;
    } else if (wfx.nBlockAlign == 0) {
        wfx.nBlockAlign = 10;
        wfx.nAvgBytesPerSec = wfx.nSamplesPerSec >> 3;
    } else {
        wfx.nAvgBytesPerSec = wfx.nBlockAlign * wfx.nSamplesPerSec;
    }
    wfx.cbSize = 0;
    WriteWaveFormat(wfx, m_format.get());

    SetChunkHeader(m_riffHeader, "RIFF", 0);
    std::memcpy(m_riffHeader + 8, "WAVE", 4);
    SetChunkHeader(m_formatHeader, "fmt ", kWaveFormatBytes);
    if (wfx.wFormatTag != WAVE_FORMAT_PCM) {
        // The sample count is never filled in.
        SetChunkHeader(m_factHeader, "fact", 4);
        m_factDataSize = 4;
        m_factData = std::make_unique<uint8_t[]>(m_factDataSize);
    }
    SetChunkHeader(m_dataHeader, "data", 0);
    WriteWaveFormat(wfx, outputFormat);
    return m_out.Seek(0) && WriteHeaders();
}

int AudioSourceFile::Write(const void* buffer, int count) {
    if (!m_out.IsOpen()) {
        return 0;
    }
    if (count < 0 || !m_out.Write(buffer, static_cast<size_t>(count))) {
        return -1;
    }
    return count;
}

// The header images in file order at the position: RIFF, "fmt " with its body, "fact" with
// its body when there is one, "data".
bool AudioSourceFile::WriteHeaders() {
    bool ok = m_out.Write(m_riffHeader, sizeof m_riffHeader) &&
              m_out.Write(m_formatHeader, sizeof m_formatHeader) &&
              m_out.Write(m_format.get(), m_formatBytes);
    if (ok && HasId(m_factHeader, "fact")) {
        ok = m_out.Write(m_factHeader, sizeof m_factHeader) &&
             (m_factDataSize == 0 || m_out.Write(m_factData.get(), m_factDataSize));
    }
    return ok && m_out.Write(m_dataHeader, sizeof m_dataHeader);
}

// Rewrites the header with the final sizes: RIFF size L - 8, data size L - P - 8 where P is
// where the data header starts.
bool AudioSourceFile::CompleteWaveHeader() {
    const int64_t length = m_out.Size();
    if (length < 0 || !m_out.Seek(0)) {
        return false;
    }
    const auto fileLength = static_cast<uint32_t>(length);
    constexpr auto kFixedBytes = static_cast<uint32_t>(sizeof m_riffHeader + sizeof m_formatHeader);
    const uint32_t dataStart =
        kFixedBytes + m_formatBytes + (HasId(m_factHeader, "fact") ? 8 + m_factDataSize : 0);
    platform::StoreLe32(m_riffHeader + 4, fileLength >= 8 ? fileLength - 8 : 0);
    const uint32_t used = dataStart + 8;
    platform::StoreLe32(m_dataHeader + 4, fileLength >= used ? fileLength - used : 0);
    return WriteHeaders();
}
