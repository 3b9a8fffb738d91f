#pragma once
// The installed codec drivers: what each reports (names, support flags, format tags) and
// which conversions it performs. The table is immutable; safe from any thread.

#include <cstdint>
#include <memory>

#include "audioformat.h"
#include "codec/acm.h"
#include "codecstream.h"

struct AcmTagInfo {
    uint16_t tag;
    uint16_t formatSize;  // bytes of the tag's usual format record
    uint32_t formats;     // standard formats (rates x channels) the driver lists for it
    const char* name;
};

struct AcmDriverInfo {
    const char* shortName;
    const char* longName;
    const char* features;
    uint32_t support;
    const AcmTagInfo* tags;
    uint32_t tagCount;
};

constexpr int kAcmDriverCount = 6;
const AcmDriverInfo& AcmDriverAt(int index);

// The largest format record of any driver's tags.
uint32_t AcmMaxFormatSize();

// Builds the conversion from src to dst. Returns null when no driver converts between
// them (or when `onlyDriver` >= 0 and that driver does not); sets `driver` to the driver
// that does. lowLatency: a rate conversion for live audio (PcmResampler).
std::unique_ptr<CodecStream> AcmCreateCodec(const AudioFormat& src, const AudioFormat& dst,
                                            int onlyDriver, int& driver, bool lowLatency = false);
