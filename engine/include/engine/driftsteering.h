#pragma once
// Keeps live audio in step with real time: a capture device's clock runs 50-200 ppm off the
// system's (USB microphones), so the packets its audio fills would come ever earlier (piling
// up) or later (their timestamps falling behind the sending clock). Given, for each packet,
// how late it was completed against its real-time instant, this says by how much the rate
// converter should trim its ratio: 100 ppm more output for each millisecond of lag,
// averaged over about a second of packets, within +-1000 ppm. Lateness up to an eighth of a
// packet is not steered on: a late packet leaves when it completes, so it costs no latency,
// and a device in step whose blocks come a little late keeps an untrimmed ratio, so the
// packets stay where they fall in its blocks. The loop settles with a lag of drift / 100 ppm
// per ms (2 ms at 200 ppm; a slow device's that much beyond the band) and a trim equal to the
// drift, in about ten seconds, without overshoot; the device's jitter moves the trim by a few
// ppm at most.
// A packet more than half a packet early shows a device that runs ahead of real time (a
// file, no clock), which no trim can follow: it changes nothing.
//
// The streaming worker's, one per page.

#include <cstdint>

class DriftSteering {
public:
    static constexpr double kPpmPerMs = 100.0;
    static constexpr double kMaxTrimPpm = 1000.0;
    static constexpr double kLateBandDivisor = 8.0;  // of a packet time

    // `lagNs`: how late the packet was completed against its instant; `packetNs`: the packet
    // time. Returns the trim in ppm (+: more output for the same input).
    double Update(int64_t lagNs, int64_t packetNs);
    // A new start: no lag seen, no trim.
    void Reset();
    double TrimPpm() const { return m_trimPpm; }

private:
    static constexpr double kAveraging = 50.0;  // packets

    double m_lagNs = 0;
    double m_trimPpm = 0;
};
