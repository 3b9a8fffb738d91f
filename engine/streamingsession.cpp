#include "engine/streamingsession.h"

#include <system_error>

StreamingSession::StreamingSession(Playlist& playlist, WinSonvex& engine, StatusPoster& poster)
    : m_playlist(playlist), m_engine(engine), m_poster(poster), m_ticks(&MonotonicTickSource()) {}

StreamingSession::~StreamingSession() {
    Shutdown();
}

bool StreamingSession::Start() {
    if (m_playlist.Files.empty() || m_worker.joinable() || IsStreaming()) {
        return false;
    }
    m_pageAlone = false;
    m_bStreaming.store(true, std::memory_order_release);
    try {
        m_worker = std::thread([this] { StreamingWorker(); });
    } catch (const std::system_error&) {
        m_bStreaming.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

bool StreamingSession::RequestPage(const PageRequest& request) {
    const bool alone = !IsStreaming();
    if (IsPageActive() || (alone && m_worker.joinable())) {
        return false;
    }
    if (!m_pageControl.Request(request)) {
        return false;
    }
    m_wake->Signal();
    if (!alone) {
        return true;
    }
    m_pageAlone = true;
    m_bStreaming.store(true, std::memory_order_release);
    try {
        m_worker = std::thread([this] { StreamingWorker(); });
    } catch (const std::system_error&) {
        m_bStreaming.store(false, std::memory_order_release);
        m_pageControl.Finish("cannot start the streaming thread");
        m_pageAlone = false;
        return false;
    }
    return true;
}

void StreamingSession::EndPage() {
    m_pageControl.End();
    m_wake->Signal();
}

void StreamingSession::Stop() {
    m_bStreaming.store(false, std::memory_order_release);
    m_wake->Signal();
}

void StreamingSession::Wait() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_bStreaming.store(false, std::memory_order_release);
}

void StreamingSession::Shutdown() {
    Stop();
    Wait();
}

bool StreamingSession::SetTickSource(TickSource& ticks) {
    if (m_worker.joinable()) {
        return false;
    }
    m_ticks = &ticks;
    return true;
}

bool StreamingSession::SetSessionName(const std::string& name) {
    if (m_worker.joinable()) {
        return false;
    }
    m_sessionName = name;
    return true;
}
