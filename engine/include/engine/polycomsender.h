#pragma once
// A Polycom paging destination's own sender: the worker hands it the audio of each packet
// (mu-law, A-law made mu-law, or G.722; cut into 20 ms frames whatever the packet time), and a
// thread of its own sends the session on its absolute deadlines (polycomsession.h): the Alert
// burst when audio first comes, one Transmit per 20 ms frame, and the gap and the End burst
// once told the audio is over. The Alert burst delays the audio by about a second: the frames
// wait in a ring meanwhile, so nothing of the start is lost. The sample count runs on from one
// session to the next.
//
// Threads: Start, Push, Finish, Drain and Stop on the streaming worker; the sending thread is
// the sender's own. They share a single-producer single-consumer ring of frames and a few
// atomics: the worker writes a frame, then publishes it with a release store of its count;
// the thread reads after an acquire load and frees the slot with a release store of its own.
// Push allocates, opens and locks nothing; Start opens the socket and starts the thread.

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

#include "engine/polycomsession.h"
#include "platform/udpsocket.h"
#include "platform/wakeevent.h"
#include "playlist/playlist.h"

class PolycomSender {
public:
    static constexpr size_t kRingFrames = 256;  // 5.12 s of audio

    PolycomSender() = default;
    PolycomSender(const PolycomSender&) = delete;
    PolycomSender& operator=(const PolycomSender&) = delete;
    ~PolycomSender();  // Stop()

    // Opens the socket to the destination (its group, TTL and interface) and starts the
    // thread, idle until audio comes; false when either cannot be made.
    bool Start(const RtpDestination& destination);
    // One packet of audio: payload type 0 (mu-law), 8 (A-law, sent as mu-law) or 9 (G.722),
    // `length` bytes, in 20 ms frames (a partial last frame waits for the next packet). A full
    // ring drops the frame (counted). Starts a session when none is on.
    void Push(const uint8_t* payload, int length, int payloadType);
    // The channel of the audio pushed from now on (1-50; Start sets the destination's): a
    // holder of another priority took over. The session ends and the next begins, with its
    // Alerts, on the new channel; a channel that overrides more (polycom::ChannelRank) drops
    // the old one's frames still waiting (an emergency does not wait behind the music it
    // interrupts), one that overrides less lets them out first (its end is not cut).
    void SetChannel(int channel);
    // No more audio for now: once the frames pushed are out, the gap and the End burst.
    void Finish();
    // Finish, then waits (at most timeoutNs) until the session's last End is out.
    void Drain(int64_t timeoutNs);
    // Ends the thread at once.
    void Stop();

    uint64_t Dropped() const { return m_dropped; }

private:
    struct Frame {
        polycom::Codec codec = polycom::Codec::kMulaw;
        uint8_t channel = 26;
        uint8_t bytes[polycom::kFrameBytes] = {};
    };
    void Run();
    void Queue(polycom::Codec codec);

    polycom::Sender m_identity;
    platform::UdpSocket m_socket;
    platform::WakeEvent m_wake;
    std::thread m_thread;
    std::array<Frame, kRingFrames> m_ring{};
    Frame m_partial;  // worker only: the frame being filled
    size_t m_partialBytes = 0;
    uint8_t m_channel = 26;              // worker only: the channel of the frames it queues
    std::atomic<uint64_t> m_written{0};  // frames queued, ever (worker)
    std::atomic<uint64_t> m_read{0};     // frames sent, ever (thread)
    // The frame count at which the audio ends; UINT64_MAX while it goes on. Written by the
    // worker (release) after the frames before it; the thread reads it (acquire).
    std::atomic<uint64_t> m_finishAt{UINT64_MAX};
    // The frame count at which the latest channel, m_latestChannel, begins: written by the
    // worker (release) after the channel; the thread reads it (acquire), then the channel.
    std::atomic<uint64_t> m_movedAt{0};
    std::atomic<int> m_latestChannel{26};
    std::atomic<bool> m_sessionOn{false};  // the thread's: a session is being sent
    std::atomic<bool> m_stop{false};
    uint64_t m_dropped = 0;
};
