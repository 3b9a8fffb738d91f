#include "codec/g722.h"

#include <spandsp/telephony.h>
// telephony.h first: g722.h uses its declarations.
#include <spandsp/g722.h>

#include "platform/sharedlibrary.h"

namespace {

constexpr int kBitRate = 64000;  // mode 1: 6 bits of the lower band, 2 of the upper

// The library's functions, found once, when the first coder is made: only streams and pages
// in G.722 load it (and the image libraries it brings). All null when it could not be loaded;
// coders then make no state and report themselves not open.
struct G722Library {
    decltype(&g722_encode_init) encodeInit = nullptr;
    decltype(&g722_encode_free) encodeFree = nullptr;
    decltype(&g722_encode) encode = nullptr;
    decltype(&g722_decode_init) decodeInit = nullptr;
    decltype(&g722_decode_free) decodeFree = nullptr;
    decltype(&g722_decode) decode = nullptr;
};

G722Library Load() {
    static platform::SharedLibrary library(SONVEX_SPANDSP_SONAME);
    G722Library found;
    found.encodeInit = library.Find<decltype(g722_encode_init)>("g722_encode_init");
    found.encodeFree = library.Find<decltype(g722_encode_free)>("g722_encode_free");
    found.encode = library.Find<decltype(g722_encode)>("g722_encode");
    found.decodeInit = library.Find<decltype(g722_decode_init)>("g722_decode_init");
    found.decodeFree = library.Find<decltype(g722_decode_free)>("g722_decode_free");
    found.decode = library.Find<decltype(g722_decode)>("g722_decode");
    const bool complete = found.encodeInit != nullptr && found.encodeFree != nullptr &&
                          found.encode != nullptr && found.decodeInit != nullptr &&
                          found.decodeFree != nullptr && found.decode != nullptr;
    return complete ? found : G722Library{};
}

const G722Library& Library() {
    static const G722Library library = Load();  // thread-safe, once
    return library;
}

g722_encode_state_t* NewEncoder() {
    const G722Library& lib = Library();
    return lib.encodeInit != nullptr ? lib.encodeInit(nullptr, kBitRate, 0) : nullptr;
}

g722_decode_state_t* NewDecoder() {
    const G722Library& lib = Library();
    return lib.decodeInit != nullptr ? lib.decodeInit(nullptr, kBitRate, 0) : nullptr;
}

}  // namespace

// A state exists only when the library was loaded, so every use below may call through it.

G722Encoder::G722Encoder() : m_state(NewEncoder()) {}

G722Encoder::~G722Encoder() {
    if (m_state != nullptr) {
        Library().encodeFree(m_state);
    }
}

size_t G722Encoder::Encode(const int16_t* in, size_t samples, uint8_t* out) {
    // The library reads its input two samples at a time: an odd count would read one past.
    const size_t even = samples & ~static_cast<size_t>(1);
    if (m_state == nullptr || even == 0) {
        return 0;
    }
    return static_cast<size_t>(Library().encode(m_state, out, in, static_cast<int>(even)));
}

void G722Encoder::Reset() {
    if (m_state != nullptr) {
        Library().encodeInit(m_state, kBitRate, 0);  // reinitialises the state in place
    }
}

G722Decoder::G722Decoder() : m_state(NewDecoder()) {}

G722Decoder::~G722Decoder() {
    if (m_state != nullptr) {
        Library().decodeFree(m_state);
    }
}

size_t G722Decoder::Decode(const uint8_t* in, size_t bytes, int16_t* out) {
    if (m_state == nullptr || bytes == 0) {
        return 0;
    }
    return static_cast<size_t>(Library().decode(m_state, out, in, static_cast<int>(bytes)));
}

void G722Decoder::Reset() {
    if (m_state != nullptr) {
        Library().decodeInit(m_state, kBitRate, 0);
    }
}
