#pragma once
// ITU-T G.711 mu-law (and A-law decoding), written independently of the codec services so
// tests can check them.

#include <cstdint>

namespace testsupport {

// Linear 16-bit to mu-law with the bias of 132, clipped at 32635.
uint8_t MulawEncode(int16_t sample);
// Mu-law to linear 16-bit.
int MulawToLinear(uint8_t code);
// A-law to linear 16-bit.
int AlawToLinear(uint8_t code);

}  // namespace testsupport
