#pragma once
// A source of the paging server: a playlist run or a live page, with what the arbiter needs
// of it (its priority, when it started, what it does when interrupted) and where it goes.
// Made and prepared on the server's control thread, handed to the engine whole; from then
// on the streaming worker's only.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/entrysource.h"
#include "engine/livesource.h"
#include "engine/packetsource.h"
#include "engine/winsonvex.h"
#include "playlist/playlist.h"

namespace platform {
class WakeEvent;
}

class SiteSource {
public:
    struct Settings {
        std::string name;  // the playlist's name, or what the page calls itself
        int priority = kDefaultBackgroundPriority;
        bool duck = true;  // interrupted: ducked, or muted
        int duckDb = kDefaultDuckDb;
        std::vector<RtpDestination> destinations;
    };

    explicit SiteSource(Settings settings) : m_settings(std::move(settings)) {}
    virtual ~SiteSource() = default;
    SiteSource(const SiteSource&) = delete;
    SiteSource& operator=(const SiteSource&) = delete;

    const Settings& Setup() const { return m_settings; }
    virtual const char* Kind() const = 0;  // "playlist" or "page"
    // It has audio to give at this packet (a page once its first packet is ready).
    virtual bool Present() = 0;
    // Live audio cannot wait: its packets are taken, heard or not.
    virtual bool Live() const { return false; }
    // The packet for the sending clock's instantNs; false when none is ready.
    virtual bool Take(int64_t instantNs, SourcePacket& packet) = 0;
    // After the tick's sends, for a source whose packet was taken: the next one is made ready
    // (the next file opened when one ends).
    virtual void Advance() {}
    virtual bool Finished() const = 0;
    // Why it ended early; empty when it ended as it should.
    virtual const std::string& Failure() const { return m_failure; }
    // The file playing (0-based), -1 for a page.
    virtual int FileIndex() const { return -1; }
    // Ask it to end: it gives no packet from now on.
    void End() { m_ended = true; }

protected:
    Settings m_settings;
    std::string m_failure;
    bool m_ended = false;
};

// A playlist's files one after another, as the file engine streams them, at the server's
// packet time; looping (a background playlist) or once (an announcement).
class PlaylistRun final : public SiteSource {
public:
    PlaylistRun(Settings settings, Playlist playlist, bool loop, int ptimeMs, int volumeDb);
    // Spoken text: one WAV image held in memory (speech.h), said once in `law` (7 mu-law,
    // 6 A-law). Null, with `problem`, when the image cannot be read as audio.
    static std::unique_ptr<PlaylistRun> Speech(Settings settings, std::vector<uint8_t> wave,
                                               int32_t law, int ptimeMs, std::string& problem);
    const char* Kind() const override { return m_wave.empty() ? "playlist" : "speech"; }
    // Opens the first file that opens and prepares its first packet: done before the run is
    // handed to the engine, so that it goes on the air at the next packet. False, with
    // Failure() set, when no file of the playlist can be played.
    bool Open();
    bool Present() override { return !Finished(); }
    bool Take(int64_t instantNs, SourcePacket& packet) override;
    void Advance() override;
    bool Finished() const override { return m_ended || m_done; }
    int FileIndex() const override { return static_cast<int>(m_index); }

private:
    // Opens the entry at m_index or the first after it that opens (wrapping round once when
    // looping); false when none does.
    bool OpenFrom(size_t first, bool wrapped);

    WinSonvex m_engine;
    EntrySource m_entry{m_engine};
    Playlist m_playlist;
    bool m_loop;
    int m_ptimeMs;
    size_t m_index = 0;
    bool m_done = false;
    std::vector<uint8_t> m_wave;  // speech: the one file's bytes
};

// A live page from a capture device.
class PageRun final : public SiteSource {
public:
    struct Page {
        std::string device = "default";
        uint16_t law = 7;
        int64_t durationMs = 0;  // 0: until ended
    };
    PageRun(Settings settings, Page page, int ptimeMs);
    ~PageRun() override;
    const char* Kind() const override { return "page"; }
    // Starts the capture thread; false, with Failure() set, when it cannot.
    bool Start();
    bool Present() override;
    bool Live() const override { return true; }
    bool Take(int64_t instantNs, SourcePacket& packet) override;
    bool Finished() const override;
    const std::string& Failure() const override;
    // Its first packet went on the air.
    bool OnAir() const { return m_taken > 0; }

private:
    Page m_page;
    int m_ptimeMs;
    std::atomic<double> m_gain{1.0};
    std::shared_ptr<platform::WakeEvent> m_wake;
    LiveSource m_live;
    uint64_t m_taken = 0;
    bool m_failed = false;
};
