#pragma once
// One destination's packet from the parts the arbiter chose: the holder's own payload when
// it is heard alone at full level (nothing decoded, nothing changed), else every part
// decoded from its G.711 law, scaled by its level ramp across the packet, summed, held at the
// 16-bit limits and encoded in the holder's law. Only G.711 is mixed: a G.722 holder is sent
// alone, as it came (the parts beneath it muted, its level ramp not applied), and a G.722 part
// beneath a G.711 holder is muted, because a G.722 packet decodes only from the state its own
// stream left, in order, and its re-encoding would need a coder per destination. Streaming
// worker only; allocates only when a packet is longer than any before.

#include <cstdint>
#include <vector>

#include "engine/packetsource.h"
#include "server/arbiter.h"

class PacketMixer {
public:
    struct Mixed {
        const uint8_t* payload = nullptr;  // valid until the next Mix
        int length = 0;
        int payloadType = 0;
        float peak = 0;  // 0 to 1, of what goes out
    };

    // `packets[i]`: what source i gave for this packet (null: nothing; such a part is left
    // out). The holder's packet must be there.
    Mixed Mix(const std::vector<Arbiter::Part>& parts,
              const std::vector<const SourcePacket*>& packets);

private:
    // The holder's own payload, unchanged, with its peak (G.711 only).
    Mixed Alone(const SourcePacket& holder, size_t count);

    std::vector<float> m_sum;
    std::vector<int16_t> m_linear;
    std::vector<uint8_t> m_out;
};
