#pragma once
// G.711 companding (ITU-T G.711 mu-law and A-law) between signed 16-bit linear samples and
// 8-bit codes. The encoder maps the 16-bit sample onto the law's 14-bit (mu) or 13-bit (A)
// sign-magnitude scale as the ITU-T reference does (negative samples by ones' complement)
// and looks the magnitude up in a table built from the law's segment and step structure.
// Tables are immutable once built; safe from any thread.

#include <cstddef>
#include <cstdint>

uint8_t G711LinearToMulaw(int16_t sample);
uint8_t G711LinearToAlaw(int16_t sample);
int16_t G711MulawToLinear(uint8_t code);
int16_t G711AlawToLinear(uint8_t code);

void G711EncodeMulaw(const int16_t* in, uint8_t* out, size_t count);
void G711EncodeAlaw(const int16_t* in, uint8_t* out, size_t count);
void G711DecodeMulaw(const uint8_t* in, int16_t* out, size_t count);
void G711DecodeAlaw(const uint8_t* in, int16_t* out, size_t count);
