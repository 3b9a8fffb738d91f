#include "server/arbiter.h"

#include <algorithm>

void Arbiter::Decide(const std::vector<ArbiterSource>& sources, size_t slotCount,
                     int64_t packetNs) {
    m_slotCount = slotCount;
    if (m_slots.size() < slotCount) {
        m_slots.resize(slotCount);
        m_wanting.resize(slotCount);
    }
    m_heard.assign(sources.size(), 0);
    for (size_t s = 0; s < slotCount; ++s) {
        m_wanting[s].clear();
    }
    for (size_t i = 0; i < sources.size(); ++i) {
        if (!sources[i].present) {
            continue;
        }
        for (const uint32_t slot : sources[i].slots) {
            if (slot < slotCount) {
                m_wanting[slot].push_back(i);
            }
        }
    }
    for (size_t s = 0; s < slotCount; ++s) {
        Slot& slot = m_slots[s];
        slot.holder = Slot::kNone;
        slot.parts.clear();
        const std::vector<size_t>& wanting = m_wanting[s];
        for (const size_t i : wanting) {
            if (slot.holder == Slot::kNone) {
                slot.holder = i;
                continue;
            }
            const ArbiterSource& best = sources[slot.holder];
            const ArbiterSource& other = sources[i];
            if (other.priority > best.priority ||
                (other.priority == best.priority && other.order < best.order)) {
                slot.holder = i;
            }
        }
        if (slot.holder == Slot::kNone) {
            continue;
        }
        const auto index = static_cast<uint32_t>(s);
        slot.parts.push_back(Ramp(sources[slot.holder], slot.holder, index, 1.0F, packetNs));
        m_heard[slot.holder] = 1;
        const bool emergency = sources[slot.holder].priority >= kEmergency;
        for (const size_t i : wanting) {
            if (i == slot.holder) {
                continue;
            }
            const ArbiterSource& other = sources[i];
            if (emergency || !other.duck) {
                m_levels.erase(Key(other.id, index));  // muted: it comes back at its level
                continue;
            }
            slot.parts.push_back(Ramp(other, i, index, other.duckGain, packetNs));
            m_heard[i] = 1;
        }
    }
}

Arbiter::Part Arbiter::Ramp(const ArbiterSource& source, size_t index, uint32_t slot, float target,
                            int64_t packetNs) {
    Part part;
    part.source = index;
    const auto [it, fresh] = m_levels.try_emplace(Key(source.id, slot), target);
    float& level = it->second;
    part.from = level;
    if (!fresh && level != target) {
        // The whole span between full level and the duck level takes kRampNs.
        const float span = 1.0F - std::min(source.duckGain, 1.0F);
        const float step = span > 0 ? span * static_cast<float>(packetNs) / kRampNs : 1.0F;
        level = level < target ? std::min(level + step, target) : std::max(level - step, target);
    }
    part.to = level;
    return part;
}

void Arbiter::Forget(uint64_t id) {
    std::erase_if(m_levels, [id](const auto& entry) { return entry.first >> 20 == id; });
}
