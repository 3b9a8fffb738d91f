#include "server/packetmixer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "codec/g711.h"

namespace {

constexpr int kPayloadTypePcmu = 0;  // RFC 3551
constexpr int kPayloadTypePcma = 8;

// G.711 codes each sample alone: any packet of it decodes and encodes on its own. G.722 is
// adaptive: its packets decode only in the stream's order from the stream's own state.
bool IsG711(int payloadType) {
    return payloadType == kPayloadTypePcmu || payloadType == kPayloadTypePcma;
}

void Decode(const SourcePacket& packet, int16_t* out, size_t count) {
    if (packet.payloadType == kPayloadTypePcma) {
        G711DecodeAlaw(packet.payload, out, count);
    } else {
        G711DecodeMulaw(packet.payload, out, count);
    }
}

}  // namespace

PacketMixer::Mixed PacketMixer::Alone(const SourcePacket& holder, size_t count) {
    Mixed mixed;
    mixed.payload = holder.payload;
    mixed.length = holder.length;
    mixed.payloadType = holder.payloadType;
    if (!IsG711(holder.payloadType)) {
        return mixed;  // its peak would need the stream's own decoder: not measured
    }
    Decode(holder, m_linear.data(), count);
    int peak = 0;
    for (size_t k = 0; k < count; ++k) {
        peak = std::max(peak, std::abs(static_cast<int>(m_linear[k])));
    }
    mixed.peak = static_cast<float>(peak) / 32768.0F;
    return mixed;
}

PacketMixer::Mixed PacketMixer::Mix(const std::vector<Arbiter::Part>& parts,
                                    const std::vector<const SourcePacket*>& packets) {
    Mixed mixed;
    if (parts.empty() || packets[parts.front().source] == nullptr) {
        return mixed;
    }
    const SourcePacket& holder = *packets[parts.front().source];
    const auto count = static_cast<size_t>(std::max(holder.length, 0));
    mixed.length = holder.length;
    mixed.payloadType = holder.payloadType;
    if (m_linear.size() < count) {
        m_linear.resize(count);
        m_sum.resize(count);
        m_out.resize(count);
    }
    const bool alone = std::none_of(parts.begin() + 1, parts.end(), [&](const Arbiter::Part& p) {
        return packets[p.source] != nullptr && IsG711(packets[p.source]->payloadType);
    });
    // G.722 is not mixed: the holder's packet goes out as it came, at full level, and the
    // parts beneath it are muted here.
    if (!IsG711(holder.payloadType) ||
        (alone && parts.front().from == 1.0F && parts.front().to == 1.0F)) {
        return Alone(holder, count);
    }
    std::fill(m_sum.begin(), m_sum.begin() + static_cast<std::ptrdiff_t>(count), 0.0F);
    for (const Arbiter::Part& part : parts) {
        const SourcePacket* packet = packets[part.source];
        if (packet == nullptr || !IsG711(packet->payloadType)) {
            continue;  // a G.722 part is muted under a G.711 holder
        }
        const size_t n = std::min(count, static_cast<size_t>(std::max(packet->length, 0)));
        Decode(*packet, m_linear.data(), n);
        // The level moves evenly across the packet, from its value at the first sample to its
        // value after the last.
        const float step = count > 0 ? (part.to - part.from) / static_cast<float>(count) : 0;
        for (size_t k = 0; k < n; ++k) {
            m_sum[k] +=
                static_cast<float>(m_linear[k]) * (part.from + step * static_cast<float>(k));
        }
    }
    float peak = 0;
    for (size_t k = 0; k < count; ++k) {
        const float sample = std::clamp(std::nearbyint(m_sum[k]), -32768.0F, 32767.0F);
        peak = std::max(peak, std::fabs(sample));
        m_linear[k] = static_cast<int16_t>(sample);
    }
    if (holder.payloadType == kPayloadTypePcma) {
        G711EncodeAlaw(m_linear.data(), m_out.data(), count);
    } else {
        G711EncodeMulaw(m_linear.data(), m_out.data(), count);
    }
    mixed.payload = m_out.data();
    mixed.peak = peak / 32768.0F;
    return mixed;
}
