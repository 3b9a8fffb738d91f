#pragma once
// ITU-T G.722 at 64 kbit/s, over libspandsp: 16-bit linear samples at 16 kHz to one code byte
// per two samples, and back. Each coder keeps the ADPCM state of one stream, so consecutive
// calls join without a click; a new stream needs Reset (or a new coder). The state is
// allocated once, by the constructor; Encode and Decode allocate nothing. One thread at a time.

#include <cstddef>
#include <cstdint>

struct g722_encode_state_s;
struct g722_decode_state_s;

constexpr uint32_t kG722SampleRate = 16000;  // the audio's rate
constexpr uint32_t kG722ClockRate = 8000;    // its RTP clock (RFC 3551 4.5.2)
constexpr uint32_t kG722BytesPerSecond = 8000;

class G722Encoder {
public:
    G722Encoder();
    ~G722Encoder();
    G722Encoder(const G722Encoder&) = delete;
    G722Encoder& operator=(const G722Encoder&) = delete;

    // False when the library could not make its state; Encode then writes nothing.
    bool IsOpen() const { return m_state != nullptr; }
    // Encodes `samples` samples (an even count: an odd last one is left out) into
    // samples / 2 bytes of `out`; returns the bytes written.
    size_t Encode(const int16_t* in, size_t samples, uint8_t* out);
    void Reset();

private:
    g722_encode_state_s* m_state = nullptr;
};

class G722Decoder {
public:
    G722Decoder();
    ~G722Decoder();
    G722Decoder(const G722Decoder&) = delete;
    G722Decoder& operator=(const G722Decoder&) = delete;

    bool IsOpen() const { return m_state != nullptr; }
    // Decodes `bytes` code bytes into 2 * bytes samples of `out`; returns the samples written.
    size_t Decode(const uint8_t* in, size_t bytes, int16_t* out);
    void Reset();

private:
    g722_decode_state_s* m_state = nullptr;
};
