#include "media/audiosourcefile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "codec/waveformat.h"
#include "media/mediadescription.h"
#include "media/mp3framescanner.h"
#include "platform/byteorder.h"
#include "platform/lowio.h"
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

// Reads until `count` bytes are in or the file gives no more; returns the bytes read.
uint32_t ReadFully(int fd, uint8_t* buffer, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        const int n = platform::_read(fd, buffer + done, count - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    return done;
}

// True when every byte went out.
bool WriteFully(int fd, const uint8_t* buffer, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        const int n = platform::_write(fd, buffer + done, count - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<uint32_t>(n);
    }
    return true;
}

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
    Close();
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
    // An open object (in either mode) is left exactly as it is: clearing the write flag
    // first would cost a file being written its final header.
    if (IsOpen()) {
        return false;
    }
    m_writeMode = false;
    m_refusal.clear();
    errno = 0;
    const int fd = platform::_open(path, platform::kO_RDONLY | platform::kO_BINARY);
    if (fd <= 0) {
        return Refuse(errno != 0 ? std::strerror(errno) : "it cannot be opened");
    }
    m_fd = fd;
    m_format.reset();
    m_formatBytes = 0;
    m_type = TypeFromExtension(path);

    std::string text;
    int32_t formatSize = 0;
    int32_t chunkBytes = 0;
    bool ok = false;
    if (m_type == MediaType::Wave) {
        ok = ParseWave(text, formatSize);
        if (ok) {
            WAVEFORMATEX wfx{};
            ReadWaveFormat(m_format.get(), m_formatBytes, wfx);
            chunkBytes = static_cast<int32_t>(WaveChunkBytes(wfx));  // ParseWave bounds it
        }
    } else {
        ok = OpenMp3(text, formatSize);
        chunkBytes = kMp3ChunkBytes;
    }
    if (!ok) {
        Close();
        return false;
    }
    m_readAhead = std::make_unique_for_overwrite<uint8_t[]>(kReadAheadBytes);
    m_aheadBegin = 0;
    m_aheadEnd = 0;
    info.SetFormat(m_format.get(), formatSize);
    info.chunkBytes = chunkBytes;
    info.durationSeconds = m_durationSeconds;
    description = std::move(text);
    return true;
}

bool AudioSourceFile::Refuse(std::string reason) {
    m_refusal = std::move(reason);
    return false;
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

    if (ReadFully(m_fd, m_riffHeader, sizeof m_riffHeader) < sizeof m_riffHeader ||
        !HasId(m_riffHeader, "RIFF") || !HasId(m_riffHeader + 8, "WAVE")) {
        return Refuse("not a RIFF WAVE file");
    }
    for (;;) {
        uint8_t header[8];
        if (ReadFully(m_fd, header, sizeof header) < sizeof header) {
            return Refuse("the file ends before its data chunk");
        }
        const uint32_t size = platform::LoadLe32(header + 4);
        if (HasId(header, "fmt ")) {
            // Shorter than 16 bytes there is no rate or channel count to read.
            if (size < 16 || size > kMaxHeaderChunkBytes) {
                return Refuse(size < 16
                                  ? std::string("fmt chunk shorter than 16 bytes")
                                  : "fmt chunk of " + std::to_string(size) + " bytes, too large");
            }
            std::memcpy(m_formatHeader, header, sizeof header);
            m_formatBytes = size < kWaveFormatBytes ? kWaveFormatBytes : size;
            m_format = std::make_unique<uint8_t[]>(m_formatBytes);  // zero-filled
            if (ReadFully(m_fd, m_format.get(), size) < size) {
                return Refuse("the file ends inside its fmt chunk");
            }
            formatSize = static_cast<int32_t>(size);
        } else if (HasId(header, "fact")) {
            if (size > kMaxHeaderChunkBytes) {
                return Refuse("fact chunk of " + std::to_string(size) + " bytes, too large");
            }
            std::memcpy(m_factHeader, header, sizeof header);
            m_factData.reset();
            m_factDataSize = size;
            if (size > 0) {
                m_factData = std::make_unique<uint8_t[]>(size);
                ReadFully(m_fd, m_factData.get(), size);  // a short body ends the walk next
            }
        } else if (HasId(header, "data")) {
            std::memcpy(m_dataHeader, header, sizeof header);
            const long pos = platform::_tell(m_fd);
            const long length = platform::_filelength(m_fd);
            if (pos < 0 || length < pos) {
                return Refuse("the file cannot be measured");
            }
            if (!m_format) {
                return Refuse("data chunk before the fmt chunk");
            }
            m_dataOffset = static_cast<uint32_t>(pos);
            m_dataLength = static_cast<uint32_t>(length - pos);
            if (size > m_dataLength) {
                return Refuse("data chunk of " + std::to_string(size) + " bytes, but only " +
                              std::to_string(m_dataLength) + " follow");
            }
            break;
        } else {
            // No chunk is skipped ahead of the audio.
            return Refuse(ChunkName(header) + " chunk before the data chunk");
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
    m_durationSeconds =
        wfx.nAvgBytesPerSec == 0 ? 0 : static_cast<int32_t>(m_dataLength / wfx.nAvgBytesPerSec);
    const long length = platform::_filelength(m_fd);
    BuildWaveDescription(description, static_cast<uint32_t>(length < 0 ? 0 : length), wfx,
                         m_durationSeconds);
    return true;
}

bool AudioSourceFile::OpenMp3(std::string& description, int32_t& formatSize) {
    const long length = platform::_filelength(m_fd);
    if (length < 0) {
        return Refuse("the file cannot be measured");
    }
    m_dataLength = static_cast<uint32_t>(length);
    m_formatBytes = kMp3FormatBytes;
    m_format = std::make_unique<uint8_t[]>(m_formatBytes);
    formatSize = kMp3FormatBytes;

    Mp3FrameInfo frame;
    Mp3FrameScanner scanner;
    if (!scanner.Scan(m_fd, frame, description)) {
        return Refuse("no run of MPEG audio frames found");
    }
    m_durationSeconds = frame.durationSeconds;

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

    return platform::_lseek(m_fd, frame.firstFrameOffset, platform::kSeekSet) ==
               frame.firstFrameOffset ||
           Refuse("the first frame cannot be reached");
}

int AudioSourceFile::Read(void* buffer, int count, long offset) {
    if (!IsOpen()) {
        return 0;
    }
    if (count < 0) {
        return -1;
    }
    if (offset != -1 || !m_readAhead) {
        // Whatever was read ahead lies behind the file position: a seek drops it.
        m_aheadBegin = m_aheadEnd = 0;
        if (offset != -1 && platform::_lseek(m_fd, offset, platform::kSeekSet) != offset) {
            return -1;
        }
        return platform::_read(m_fd, buffer, static_cast<unsigned int>(count));
    }
    auto* out = static_cast<uint8_t*>(buffer);
    const auto wanted = static_cast<uint32_t>(count);
    uint32_t done = TakeReadAhead(out, wanted);
    if (done < wanted) {
        const uint32_t rest = wanted - done;
        // A large read goes straight into the caller's buffer; a small one refills first.
        const int n =
            platform::_read(m_fd, rest >= kReadAheadBytes ? out + done : m_readAhead.get(),
                            rest >= kReadAheadBytes ? rest : kReadAheadBytes);
        if (n < 0) {
            return done > 0 ? static_cast<int>(done) : -1;
        }
        if (rest >= kReadAheadBytes) {
            done += static_cast<uint32_t>(n);
        } else {
            m_aheadEnd = static_cast<uint32_t>(n);
            done += TakeReadAhead(out + done, rest);
        }
    }
    return static_cast<int>(done);
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

void AudioSourceFile::Close() {
    if (IsOpen()) {
        if (m_type == MediaType::Wave && m_writeMode) {
            CompleteWaveHeader();
        }
        platform::_close(m_fd);
        m_fd = 0;
        m_factData.reset();
        m_factDataSize = 0;
        m_format.reset();
        m_formatBytes = 0;
    }
    m_readAhead.reset();
    m_aheadBegin = m_aheadEnd = 0;
    m_writeMode = false;
    m_type = MediaType::None;
}

bool AudioSourceFile::Create(const char* path, uint8_t* outputFormat) {
    if (IsOpen() || outputFormat == nullptr) {
        return false;
    }
    const int fd = platform::_open(
        path, platform::kO_BINARY | platform::kO_TRUNC | platform::kO_CREAT | platform::kO_RDWR,
        platform::kS_IREAD | platform::kS_IWRITE);
    if (fd <= 0) {
        return false;
    }
    m_fd = fd;
    m_writeMode = true;
    m_format.reset();
    m_formatBytes = 0;
    m_type = TypeFromExtension(path);
    if (m_type != MediaType::Wave) {
        Close();  // the empty file stays: it was created before the name was judged
        return false;
    }
    if (!WriteWaveHeader(outputFormat)) {
        // Nothing usable can follow a header that is not on disk; keep Close from writing.
        m_writeMode = false;
        Close();
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
    if (wfx.nBlockAlign == 0) {
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
    bool ok = platform::_lseek(m_fd, 0, platform::kSeekSet) == 0;
    ok = ok && WriteFully(m_fd, m_riffHeader, sizeof m_riffHeader);
    ok = ok && WriteFully(m_fd, m_formatHeader, sizeof m_formatHeader);
    ok = ok && WriteFully(m_fd, m_format.get(), m_formatBytes);
    if (wfx.wFormatTag != WAVE_FORMAT_PCM) {
        // The sample count is never filled in.
        SetChunkHeader(m_factHeader, "fact", 4);
        m_factDataSize = 4;
        m_factData = std::make_unique<uint8_t[]>(m_factDataSize);
        ok = ok && WriteFully(m_fd, m_factHeader, sizeof m_factHeader);
        ok = ok && WriteFully(m_fd, m_factData.get(), m_factDataSize);
    }
    SetChunkHeader(m_dataHeader, "data", 0);
    ok = ok && WriteFully(m_fd, m_dataHeader, sizeof m_dataHeader);

    WriteWaveFormat(wfx, outputFormat);
    return ok;
}

int AudioSourceFile::Write(const void* buffer, int count) {
    if (!IsOpen()) {
        return 0;
    }
    if (count < 0) {
        return -1;
    }
    return platform::_write(m_fd, buffer, static_cast<unsigned int>(count));
}

// Rewrites the header with the final sizes: RIFF size L - 8, data size L - P - 8 where P is
// where the data header starts.
void AudioSourceFile::CompleteWaveHeader() {
    const long length = platform::_filelength(m_fd);
    if (length < 0 || platform::_lseek(m_fd, 0, platform::kSeekSet) != 0) {
        return;
    }
    const uint32_t fileLength = static_cast<uint32_t>(length);
    platform::StoreLe32(m_riffHeader + 4, fileLength >= 8 ? fileLength - 8 : 0);
    WriteFully(m_fd, m_riffHeader, sizeof m_riffHeader);
    WriteFully(m_fd, m_formatHeader, sizeof m_formatHeader);
    WriteFully(m_fd, m_format.get(), m_formatBytes);
    if (HasId(m_factHeader, "fact")) {
        WriteFully(m_fd, m_factHeader, sizeof m_factHeader);
        if (m_factData && m_factDataSize > 0) {
            WriteFully(m_fd, m_factData.get(), m_factDataSize);
        }
    }
    const long dataStart = platform::_tell(m_fd);
    if (dataStart < 0) {
        return;
    }
    const uint32_t used = static_cast<uint32_t>(dataStart) + 8;
    platform::StoreLe32(m_dataHeader + 4, fileLength >= used ? fileLength - used : 0);
    WriteFully(m_fd, m_dataHeader, sizeof m_dataHeader);
}
