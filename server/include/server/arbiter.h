#pragma once
// Who is heard at each destination, packet by packet. Every destination is held by the
// highest-priority source that wants it; on a tie, by the source that started first. The
// others that want it are ducked there (mixed under the holder at their duck level) or
// muted, as their setting says; under an emergency every other source is muted. A change of
// level ramps over kRampNs, so that a duck neither clicks nor jumps. A source heard nowhere
// (muted wherever it goes) holds its place: the engine takes no packet from it.
//
// Pure logic on the streaming worker; the engine turns its decisions into packets.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

struct ArbiterSource {
    uint64_t id = 0;              // stable for the source's life
    int priority = 0;             // higher wins; kEmergency and above mutes every other source
    uint64_t order = 0;           // when it started: lower started first
    bool duck = true;             // interrupted: ducked (true) or muted
    float duckGain = 0.18F;       // linear level when ducked
    bool present = true;          // it has audio to give now
    std::vector<uint32_t> slots;  // the destinations it goes to
};

class Arbiter {
public:
    static constexpr int kEmergency = 100;
    static constexpr int64_t kRampNs = 100000000;  // 100 ms

    // One contribution to a destination's packet: the source (an index into the list given
    // to Decide) and its level at the packet's first and last sample.
    struct Part {
        size_t source = 0;
        float from = 1.0F;
        float to = 1.0F;
        bool operator==(const Part&) const = default;
    };
    struct Slot {
        static constexpr size_t kNone = SIZE_MAX;
        size_t holder = kNone;    // index of the source heard in full, kNone: silent
        std::vector<Part> parts;  // the holder first, then the ducked sources
    };

    // Decides every destination below slotCount for one packet of packetNs.
    void Decide(const std::vector<ArbiterSource>& sources, size_t slotCount, int64_t packetNs);
    const Slot& At(size_t slot) const { return m_slots[slot]; }
    size_t SlotCount() const { return m_slotCount; }
    // Whether source i (the index given to Decide) is heard at one destination at least.
    bool Heard(size_t i) const { return i < m_heard.size() && m_heard[i] != 0; }
    // A source that has ended: its levels are forgotten.
    void Forget(uint64_t id);

private:
    static uint64_t Key(uint64_t id, uint32_t slot) { return id << 20 | slot; }
    // Moves the level of (source, slot) one packet toward `target`; the part it makes.
    Part Ramp(const ArbiterSource& source, size_t index, uint32_t slot, float target,
              int64_t packetNs);

    std::vector<Slot> m_slots;
    size_t m_slotCount = 0;
    std::vector<uint8_t> m_heard;
    std::vector<std::vector<size_t>> m_wanting;    // per slot: the sources that want it
    std::unordered_map<uint64_t, float> m_levels;  // (source, slot) -> level now
};
