#pragma once
// The real-time instants of live audio's packets. Each packet stands for one instant, a
// packet time after the one before; a packet leaves at its instant, or when it completes if
// that is later. Which packet is taken at each instant, and when the schedule starts again:
//
// - The first packet, and the first after a burst (two or more whole packets waiting, as a
//   device's start or a server that delivers late in one piece leaves them), is the newest
//   whole packet, at the lowest latency; what came before it is stale and dropped. A device
//   that runs free of real time (a file, no clock) keeps all its audio, in order.
// - A packet a little late is caught up with: the next may follow it at once. One more than
//   kCatchUpPackets late shows a stall: the schedule starts again, and the gap stays a gap.
// - Packets of a clocked device that complete more than half a packet before their
//   instants, kEarlyPackets in a row, show a schedule anchored on a block that came late:
//   every packet would wait that long, and no trim can move it. What waits is dropped and
//   the next packet to complete starts the schedule again, a little more than a packet time
//   after the last one left.
// - A clocked device's first packets settle the schedule: the packet it starts on may have
//   completed a little behind the device's steady phase (the end of a start's burst, a block
//   the server handed over late), so that each packet after it would wait that long, and the
//   trim would take seconds to win it back while shifting the packets across the device's
//   blocks. For kSettleNs after each start, a packet that completes before its instant moves
//   the schedule that much earlier, by half a packet at most in all (beyond that, the rule
//   above starts it again); the instants the timestamps follow move with it, so they stay a
//   packet apart.
//
// The completion instants also steer the converter's trim (DriftSteering). The streaming
// worker's, one per page.

#include <cstdint>

#include "engine/driftsteering.h"

class LiveSchedule {
public:
    static constexpr int64_t kCatchUpPackets = 2;
    static constexpr int kEarlyPackets = 3;
    static constexpr int64_t kSettleNs = 1000000000;
    static constexpr int64_t kSettleShiftDivisor = 2;

    enum class Step : uint8_t {
        kNext,     // the oldest waiting packet, on the schedule
        kNewest,   // the newest whole packet (the rest is dropped); the schedule starts again
        kRestart,  // the oldest waiting packet (a device free of real time); starts again
        kDrop,     // drop all that waits and take nothing: the next packet starts again
    };

    // A new page of `packetNs` packets: nothing taken, no trim.
    void Start(int64_t packetNs);
    // What to take at instantNs (now, no earlier than EarliestNs()) with `waitingPackets`
    // whole packets queued; `paced`: the device keeps to a clock of its own.
    Step Plan(int64_t instantNs, uint64_t waitingPackets, bool paced);
    // The packet taken as Plan said (not kDrop) completed at readyNs. Returns the trim, in ppm.
    double Taken(Step step, int64_t instantNs, int64_t readyNs);

    // The earliest monotonic instant the next packet may leave (0 before the first).
    int64_t EarliestNs() const { return m_taken == 0 ? 0 : m_scheduleNs + m_packetNs; }
    // The instant the packet taken last stands for, and the first one's.
    int64_t ScheduleNs() const { return m_scheduleNs; }
    int64_t FirstScheduleNs() const { return m_firstScheduleNs; }

private:
    // Within kSettleNs of a start, moves the schedule as far earlier as the packet just taken
    // completed before its instant (within the shift left).
    void Settle(int64_t readyNs);

    int64_t m_packetNs = 0;
    uint64_t m_taken = 0;
    int64_t m_firstScheduleNs = 0;
    int64_t m_scheduleNs = 0;
    int m_earlyRun = 0;      // packets in a row completed more than half a packet early
    bool m_restart = false;  // after a drop
    bool m_paced = false;    // as Plan was last told
    int64_t m_settleUntilNs = 0;
    int64_t m_settleShiftNs = 0;  // how far the schedule may still move earlier
    DriftSteering m_drift;
};
