#pragma once
// The stream's side of a page from another process (pagechannel.h): while the stream runs it
// listens, takes one page at a time into the document (which hands it the senders at the
// next tick), forwards the worker's page reports to the paging process and ends the page when
// that process asks or goes away (killed, say). Runs on the command's thread, between
// reports. Private to the library.

#include <poll.h>

#include <string>

#include "document/playlistdocument.h"
#include "pagechannel.h"

class PageHost {
public:
    // What the stream's own output says of a page.
    class Events {
    public:
        virtual ~Events() = default;
        virtual void PageStarted(const std::string& device) = 0;
        // `failure`: why it ended early, or empty.
        virtual void PageEnded(const std::string& device, const std::string& failure,
                               const PageLatency::Summary& latency) = 0;
    };

    static constexpr size_t kMaxPollFds = 2;
    // A connection that has asked for no page this long after it came is refused.
    static constexpr int64_t kQuietLimitMs = 3000;

    // `name`: the playlist as the stream was asked for it (the socket's name folds its case).
    // A refusal's reason reads after "the stream of <name> refused the page: ".
    PageHost(PlaylistDocument& document, const std::string& name, Events& events)
        : m_document(document), m_name(name), m_events(events) {}

    // False, with `problem` set, when no page can reach this stream.
    bool Listen(std::string& problem) { return m_listener.Listen(m_name, problem); }
    // The descriptors to wait on for reading, at most kMaxPollFds; returns how many.
    size_t PollFds(pollfd* fds) const;
    // How long the wait may last before Serve has something to do without a descriptor
    // becoming ready (-1: no limit).
    int TimeoutMs() const;
    // After the wait: accepts, refuses and reads what became ready, and drops a connection
    // that stayed quiet too long.
    void Serve(const pollfd* fds, size_t count);
    // Every report of the worker's passes here.
    void OnReport(const StreamingStatus& status);
    // The stream is stopping: no page is taken any more.
    void StopListening() { m_listener.Close(); }
    // The stream has ended: a paging process still connected is told.
    void StreamEnded();

private:
    static int64_t NowMs();
    void AcceptWaiting();
    static void Refuse(pagechannel::Peer& peer, const std::string& reason);
    void ReadPeer();
    void StartPage(const nlohmann::json& message);
    // The paging process asked to end, or went away.
    void EndWanted();
    void Ended();

    PlaylistDocument& m_document;
    std::string m_name;
    Events& m_events;
    pagechannel::Listener m_listener;
    pagechannel::Peer m_peer;
    std::string m_device;
    bool m_requested = false;  // the peer's page is in the document, until PageEnded
    int64_t m_acceptedMs = 0;  // when the peer connected
};
