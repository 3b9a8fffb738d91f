#include "pagehost.h"

#include <algorithm>
#include <chrono>

#include "playlist/outputcodec.h"

namespace {

// A member of a message, null when it has none (a message is any object a peer sent).
nlohmann::json Field(const nlohmann::json& message, const char* key) {
    const auto found = message.find(key);
    return found == message.end() ? nlohmann::json() : *found;
}

}  // namespace

int64_t PageHost::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int PageHost::TimeoutMs() const {
    if (!m_peer.IsOpen() || m_requested) {
        return -1;
    }
    return static_cast<int>(std::max<int64_t>(m_acceptedMs + kQuietLimitMs - NowMs(), 0));
}

size_t PageHost::PollFds(pollfd* fds) const {
    size_t count = 0;
    for (const int fd : {m_peer.Fd(), m_listener.Fd()}) {
        if (fd >= 0) {
            fds[count++] = {fd, POLLIN, 0};
        }
    }
    return count;
}

void PageHost::Serve(const pollfd* fds, size_t count) {
    bool peerReady = false;
    bool listenerReady = false;
    for (size_t i = 0; i < count; ++i) {
        peerReady = peerReady || (fds[i].fd == m_peer.Fd() && fds[i].revents != 0);
        listenerReady = listenerReady || (fds[i].fd == m_listener.Fd() && fds[i].revents != 0);
    }
    // The peer first: one that hung up frees its place for a page waiting to be accepted.
    if (peerReady) {
        ReadPeer();
    }
    if (listenerReady) {
        AcceptWaiting();
    }
    // A connection that asks for nothing would hold the only place for a page.
    if (m_peer.IsOpen() && !m_requested && NowMs() >= m_acceptedMs + kQuietLimitMs) {
        Refuse(m_peer,
               "it asked for nothing within " + std::to_string(kQuietLimitMs / 1000) + " s");
    }
}

void PageHost::AcceptWaiting() {
    for (;;) {
        const bool busy = m_peer.IsOpen() || m_requested || m_document.IsPageActive();
        pagechannel::Peer other;
        pagechannel::Peer& into = busy ? other : m_peer;
        bool trusted = false;
        if (!m_listener.Accept(into, trusted)) {
            return;
        }
        if (!trusted) {
            Refuse(into, "the page comes from another user");
        } else if (m_peer.IsOpen() && busy) {
            Refuse(into, "another page is running on it");
        } else if (busy) {
            Refuse(into, "its last page is still ending; page again");
        } else {
            m_acceptedMs = NowMs();
        }
    }
}

void PageHost::Refuse(pagechannel::Peer& peer, const std::string& reason) {
    peer.Send({{"reply", "refused"}, {"reason", reason}});
    peer.Close();
}

void PageHost::ReadPeer() {
    for (;;) {
        nlohmann::json message;
        switch (m_peer.Receive(message)) {
            case pagechannel::Peer::Received::kNothing:
                return;
            case pagechannel::Peer::Received::kClosed:
                m_peer.Close();
                EndWanted();
                return;
            case pagechannel::Peer::Received::kMessage:
                break;
        }
        const nlohmann::json request = Field(message, "request");
        if (request == "page" && !m_requested) {
            StartPage(message);
        } else if (request == "end") {
            EndWanted();
        } else {
            // Garbage, or a second page on one connection: told, and let go.
            Refuse(m_peer, "the request was not understood");
            EndWanted();
        }
        if (!m_peer.IsOpen()) {
            return;
        }
    }
}

void PageHost::StartPage(const nlohmann::json& message) {
    PlaylistDocument::PageRequest request;
    const nlohmann::json device = Field(message, "device");
    const nlohmann::json law = Field(message, "law");
    const nlohmann::json ptime = Field(message, "ptime");
    const nlohmann::json duration = Field(message, "duration_ms");
    if (!device.is_string() || device.get<std::string>().empty() ||
        device.get<std::string>().size() >= sizeof request.Device || !law.is_number_integer() ||
        !ptime.is_number_integer() || !duration.is_number_integer() || law.get<int64_t>() < 0 ||
        law.get<int64_t>() > 0xFFFF ||
        FindOutputCodec(static_cast<int32_t>(law.get<int64_t>())) == nullptr ||
        ptime.get<int64_t>() <= 0 || ptime.get<int64_t>() > 1000 || duration.get<int64_t>() < 0 ||
        duration.get<int64_t>() > PageControl::kMaxDurationMs) {
        Refuse(m_peer, "the page's request was not understood");
        return;
    }
    const std::string problem = PageControl::DeviceProblem(device.get<std::string>());
    if (!problem.empty()) {
        Refuse(m_peer, problem);
        return;
    }
    m_device = device.get<std::string>();
    std::copy(m_device.begin(), m_device.end(), request.Device);
    request.Device[m_device.size()] = '\0';
    request.Law = static_cast<uint16_t>(law.get<int>());
    request.PtimeMs = ptime.get<int>();
    request.DurationMs = duration.get<int64_t>();
    if (!m_document.IsStreaming() || !m_document.RequestPage(request)) {
        Refuse(m_peer, "it is ending");
        return;
    }
    m_requested = true;
    m_peer.Send({{"reply", "accepted"}});
}

void PageHost::EndWanted() {
    if (!m_requested) {
        return;
    }
    // A page the worker has not yet taken is dropped, and reported ended all the same.
    m_document.EndPage();
}

void PageHost::OnReport(const StreamingStatus& status) {
    if (!m_requested) {
        return;
    }
    if (status.code == kPageStarted) {
        m_events.PageStarted(m_device);
        m_peer.Send({{"event", "page-started"}});
    } else if (status.code == kPageEnded) {
        Ended();
    }
}

void PageHost::Ended() {
    m_requested = false;
    // The worker wrote the failure and the latency before it let the page go (acquire).
    if (m_document.IsPageActive()) {
        return;
    }
    const std::string failure = m_document.PageFailure();
    const PageLatency::Summary latency = m_document.PageLatencySummary();
    m_events.PageEnded(m_device, failure, latency);
    m_peer.Send({{"event", "page-ended"},
                 {"failed", !failure.empty()},
                 {"message", failure},
                 {"stream_ended", !m_document.IsStreaming()},
                 {"latency",
                  {{"packets", latency.count},
                   {"median_us", latency.medianUs},
                   {"p95_us", latency.p95Us},
                   {"p99_us", latency.p99Us},
                   {"max_us", latency.maxUs}}}});
    m_peer.Close();
}

void PageHost::StreamEnded() {
    m_listener.Close();
    if (m_peer.IsOpen()) {
        m_peer.Send({{"event", "stream-ended"}});
        m_peer.Close();
    }
    m_requested = false;
}
