#include "server/sitesource.h"

#include <utility>

#include "codec/waveformat.h"
#include "engine/ticksource.h"
#include "media/audiosourcefile.h"
#include "platform/bytesource.h"
#include "platform/wakeevent.h"
#include "playlist/outputcodec.h"

namespace {

// Every packet of the server is G.711 at 8 kHz: the rate the mixer adds packets at.
constexpr int32_t kSampleRate = 8000;

}  // namespace

PlaylistRun::PlaylistRun(Settings settings, Playlist playlist, bool loop, int ptimeMs, int volumeDb)
    : SiteSource(std::move(settings)),
      m_playlist(std::move(playlist)),
      m_loop(loop),
      m_ptimeMs(ptimeMs) {
    m_engine.SetVolumeDb(volumeDb);
}

std::unique_ptr<PlaylistRun> PlaylistRun::Speech(Settings settings, std::vector<uint8_t> wave,
                                                 int32_t law, int ptimeMs, std::string& problem) {
    PlaylistFile file;
    file.SetName("speech.wav");
    AudioSourceFile probe;
    std::string description;
    if (!probe.Open(std::make_unique<platform::MemoryByteSource>(wave.data(), wave.size()),
                    "speech.wav", file.Source, description)) {
        problem = "the spoken text could not be read as audio: " + probe.RefusalReason();
        return nullptr;
    }
    file.Source.SetPath("speech.wav");
    file.DstFormat = law;
    file.Valid = 1;
    Playlist playlist;
    playlist.Files.push_back(file);
    auto run =
        std::make_unique<PlaylistRun>(std::move(settings), std::move(playlist), false, ptimeMs, 0);
    run->m_wave = std::move(wave);
    return run;
}

bool PlaylistRun::Open() {
    if (!OpenFrom(0, false)) {
        m_failure = "no file of the playlist \"" + m_settings.name + "\" can be played";
        m_done = true;
        return false;
    }
    return true;
}

bool PlaylistRun::OpenFrom(size_t first, bool wrapped) {
    const size_t count = m_playlist.Files.size();
    for (size_t step = 0; step < count; ++step) {
        const size_t index = first + step;
        if (index >= count && !(m_loop || wrapped)) {
            return false;
        }
        PlaylistFile entry = m_playlist.Files[index % count];
        if (entry.Valid == 0) {
            continue;
        }
        // The server's packet time and rate for every file: packets of all sources are
        // heard together. The file's law stays its own, and G.722 its rate.
        entry.DstPacketization = m_ptimeMs;
        const OutputCodec* codec = FindOutputCodec(entry.DstFormat);
        entry.DstSampleRate = codec != nullptr ? codec->sampleRate : kSampleRate;
        auto bytes = m_wave.empty() ? nullptr
                                    : std::make_unique<platform::MemoryByteSource>(m_wave.data(),
                                                                                   m_wave.size());
        if (!m_engine.OpenEntry(entry, m_settings.destinations, std::move(bytes))) {
            continue;
        }
        m_engine.PrepareNext();
        if (!m_engine.PacketReady()) {
            m_engine.CloseEntry();  // an empty file: nothing to play
            continue;
        }
        m_index = index % count;
        return true;
    }
    return false;
}

bool PlaylistRun::Take(int64_t instantNs, SourcePacket& packet) {
    return !Finished() && m_engine.PacketReady() && m_entry.Take(instantNs, packet);
}

void PlaylistRun::Advance() {
    if (Finished()) {
        return;
    }
    m_engine.PrepareNext();
    if (m_engine.PacketReady()) {
        return;
    }
    // The file is all sent: the next one is opened now, after the tick's sends, so that its
    // first packet is ready for the next tick. Once past the last file an announcement ends;
    // a background playlist starts over.
    m_engine.CloseEntry();
    const size_t next = m_index + 1;
    if ((next >= m_playlist.Files.size() && !m_loop) || !OpenFrom(next, false)) {
        if (m_loop) {
            m_failure = "no file of the playlist \"" + m_settings.name + "\" can be played";
        }
        m_done = true;
    }
}

PageRun::PageRun(Settings settings, Page page, int ptimeMs)
    : SiteSource(std::move(settings)),
      m_page(std::move(page)),
      m_ptimeMs(ptimeMs),
      m_wake(std::make_shared<platform::WakeEvent>()) {}

PageRun::~PageRun() {
    m_live.Stop();
}

bool PageRun::Start() {
    LiveSource::Settings settings;
    settings.device = m_page.device;
    settings.law = m_page.law;
    settings.ptimeMs = m_ptimeMs;
    if (!m_live.Start(settings, m_gain, m_wake, MonotonicTickSource())) {
        m_failed = true;
        return false;
    }
    return true;
}

bool PageRun::Present() {
    if (Finished()) {
        return false;
    }
    if (m_live.Poll() == LiveSource::State::kFailed) {
        m_failed = true;
        return false;
    }
    // Whatever plays keeps the destinations until the page's first packet is ready.
    return m_taken > 0 || m_live.Ready();
}

bool PageRun::Take(int64_t /*instantNs*/, SourcePacket& packet) {
    m_wake->Consume();
    if (Finished() || !m_live.Ready()) {
        return false;
    }
    // Held to real time: never a packet before its instant, whatever the device delivers.
    const int64_t now = MonotonicTickSource().NowNs();
    if (m_taken > 0 && now < m_live.EarliestNs()) {
        return false;
    }
    if (!m_live.Take(now, packet)) {
        return false;
    }
    ++m_taken;
    return true;
}

bool PageRun::Finished() const {
    return m_ended || m_failed ||
           (m_page.durationMs > 0 &&
            static_cast<int64_t>(m_taken) * m_ptimeMs >= m_page.durationMs);
}

const std::string& PageRun::Failure() const {
    return m_failed ? m_live.Reason() : m_failure;
}
