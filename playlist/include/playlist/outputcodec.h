#pragma once
// The codecs a file or a page is sent in, and what each fixes on the wire: the stored format
// tag (a file's "DstFormat", a page's law), the RTP payload type, the audio's rate, the RTP
// clock and the names the front ends and the SDP use. All three run at 64 kbit/s: a packet
// carries 8 bytes per millisecond whichever it is, and its timestamp steps by that count (G.722
// keeps the 8 kHz clock of RFC 3551 4.5.2 though its audio is sampled at 16 kHz).

#include <cstdint>
#include <string_view>

enum OutputFormat : int32_t {
    kFormatAlaw = 6,     // WAVE_FORMAT_ALAW
    kFormatMulaw = 7,    // WAVE_FORMAT_MULAW
    kFormatG722 = 0x65,  // WAVE_FORMAT_G722_ADPCM
};

struct OutputCodec {
    int32_t format;
    int payloadType;       // RFC 3551: 0 PCMU, 8 PCMA, 9 G722
    int32_t sampleRate;    // Hz, of the audio the encoder takes
    int32_t clockRate;     // Hz, of the RTP timestamps
    const char* encoding;  // the SDP rtpmap name
    const char* word;      // the command line's --law value: mu, a, g722
    const char* text;      // the desktop's details pane: U-law, A-law, G.722
    const char* name;      // every other text: mu-law, A-law, G.722
};

constexpr int kOutputBytesPerMs = 8;

// The codec of a stored tag, or null for any other value.
const OutputCodec* FindOutputCodec(int32_t format);
// The codec the command line names, or null.
const OutputCodec* FindOutputCodecByWord(std::string_view word);
