#include "engine/polycomsession.h"

#include <cstring>

void PolycomSession::Start(const polycom::Sender& sender, polycom::Codec codec, int64_t nowNs,
                           uint32_t firstSample) {
    m_sender = sender;
    m_codec = codec;
    m_phase = Phase::kAlerting;
    m_count = 0;
    m_dueNs = nowNs;
    m_sample = firstSample;
    m_havePrevious = false;
}

size_t PolycomSession::Step(int64_t nowNs, const uint8_t* frame, bool ending, uint8_t* out) {
    if (m_phase == Phase::kIdle || m_phase == Phase::kDone || nowNs < m_dueNs) {
        return 0;
    }
    switch (m_phase) {
        case Phase::kAlerting:
            if (++m_count == kAlerts) {
                m_phase = Phase::kTransmitting;
                m_dueNs += kAlertToAudioNs;
            } else {
                m_dueNs += kAlertNs;
            }
            return polycom::WriteControl(out, polycom::OpCode::kAlert, m_sender);
        case Phase::kTransmitting: {
            if (frame == nullptr) {
                if (ending) {
                    // The first End keeps its distance from the last Transmit.
                    m_phase = Phase::kEnding;
                    m_count = 0;
                    m_dueNs += kGapNs - kTransmitNs;
                    return 0;
                }
                m_dueNs += kTransmitNs;  // no audio in time: the slot passes silent
                return 0;
            }
            const size_t length = polycom::WriteTransmit(
                out, m_sender, m_codec, m_sample, m_havePrevious ? m_previous : nullptr, frame);
            std::memcpy(m_previous, frame, polycom::kFrameBytes);
            m_havePrevious = true;
            m_sample += polycom::kSamplesPerFrame;
            m_dueNs += kTransmitNs;
            // Late by more than a period (a stalled host): the schedule moves on, not in a rush.
            if (nowNs - m_dueNs > kTransmitNs) {
                m_dueNs = nowNs + kTransmitNs;
            }
            return length;
        }
        case Phase::kEnding:
            if (++m_count == kEnds) {
                m_phase = Phase::kDone;
            }
            m_dueNs += kEndNs;
            return polycom::WriteControl(out, polycom::OpCode::kEnd, m_sender);
        default:
            return 0;
    }
}
