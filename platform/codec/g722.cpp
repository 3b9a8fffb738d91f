#include "codec/g722.h"

#include <spandsp/telephony.h>
// telephony.h first: g722.h uses its declarations.
#include <spandsp/g722.h>

namespace {

constexpr int kBitRate = 64000;  // mode 1: 6 bits of the lower band, 2 of the upper

}  // namespace

G722Encoder::G722Encoder() : m_state(g722_encode_init(nullptr, kBitRate, 0)) {}

G722Encoder::~G722Encoder() {
    if (m_state != nullptr) {
        g722_encode_free(m_state);
    }
}

size_t G722Encoder::Encode(const int16_t* in, size_t samples, uint8_t* out) {
    // The library reads its input two samples at a time: an odd count would read one past.
    const size_t even = samples & ~static_cast<size_t>(1);
    if (m_state == nullptr || even == 0) {
        return 0;
    }
    return static_cast<size_t>(g722_encode(m_state, out, in, static_cast<int>(even)));
}

void G722Encoder::Reset() {
    if (m_state != nullptr) {
        g722_encode_init(m_state, kBitRate, 0);  // reinitialises the state in place
    }
}

G722Decoder::G722Decoder() : m_state(g722_decode_init(nullptr, kBitRate, 0)) {}

G722Decoder::~G722Decoder() {
    if (m_state != nullptr) {
        g722_decode_free(m_state);
    }
}

size_t G722Decoder::Decode(const uint8_t* in, size_t bytes, int16_t* out) {
    if (m_state == nullptr || bytes == 0) {
        return 0;
    }
    return static_cast<size_t>(g722_decode(m_state, out, in, static_cast<int>(bytes)));
}

void G722Decoder::Reset() {
    if (m_state != nullptr) {
        g722_decode_init(m_state, kBitRate, 0);
    }
}
