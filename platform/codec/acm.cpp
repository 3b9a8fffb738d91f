// The codec services' front end: handle checks, the driver inventory and the stream
// contract (sizes, header preparation, conversion) over the drivers of acmdrivers.cpp.
#include "codec/acm.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "acmdrivers.h"

struct AcmDriverId {
    int index;
};

struct AcmDriver {
    uint32_t magic;
    int index;
};

struct AcmStream {
    uint32_t magic;
    int driver;
    std::unique_ptr<CodecStream> codec;
};

namespace {

constexpr uint32_t kDriverMagic = 0x44524956;  // "DRIV"
constexpr uint32_t kStreamMagic = 0x5354524D;  // "STRM"
constexpr uint32_t kDeadMagic = 0xDEADC0DE;

AcmDriverId g_driverIds[kAcmDriverCount] = {{0}, {1}, {2}, {3}, {4}, {5}};

int DriverIndex(HACMDRIVERID id) {
    for (int i = 0; i < kAcmDriverCount; ++i) {
        if (id == &g_driverIds[i]) {
            return i;
        }
    }
    return -1;
}

bool ValidStream(HACMSTREAM s) {
    return s != nullptr && s->magic == kStreamMagic;
}

void CopyName(char* dst, size_t size, const char* src) {
    std::strncpy(dst, src, size - 1);
    dst[size - 1] = '\0';
}

}  // namespace

MMRESULT acmDriverEnum(ACMDRIVERENUMCB callback, uintptr_t instance, uint32_t flags) {
    if (callback == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags != 0) {
        return MMSYSERR_INVALFLAG;
    }
    for (int i = 0; i < kAcmDriverCount; ++i) {
        if (!callback(&g_driverIds[i], instance, AcmDriverAt(i).support)) {
            break;
        }
    }
    return MMSYSERR_NOERROR;
}

MMRESULT acmDriverDetailsA(HACMDRIVERID driverId, ACMDRIVERDETAILSA* details, uint32_t flags) {
    const int index = DriverIndex(driverId);
    if (index < 0) {
        return MMSYSERR_INVALHANDLE;
    }
    if (details == nullptr || details->cbStruct != sizeof(ACMDRIVERDETAILSA)) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags != 0) {
        return MMSYSERR_INVALFLAG;
    }
    const AcmDriverInfo& d = AcmDriverAt(index);
    std::memset(details, 0, sizeof *details);
    details->cbStruct = sizeof(ACMDRIVERDETAILSA);
    details->fccType = 0x63647561;  // "audc"
    details->wMid = 1;
    details->wPid = static_cast<uint16_t>(index + 1);
    details->vdwACM = 0x04000000;
    details->vdwDriver = 0x01000000;
    details->fdwSupport = d.support;
    details->cFormatTags = d.tagCount;
    CopyName(details->szShortName, sizeof details->szShortName, d.shortName);
    CopyName(details->szLongName, sizeof details->szLongName, d.longName);
    CopyName(details->szFeatures, sizeof details->szFeatures, d.features);
    return MMSYSERR_NOERROR;
}

MMRESULT acmDriverOpen(HACMDRIVER* driver, HACMDRIVERID driverId, uint32_t flags) {
    if (driver == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *driver = nullptr;
    const int index = DriverIndex(driverId);
    if (index < 0) {
        return MMSYSERR_INVALHANDLE;
    }
    if (flags != 0) {
        return MMSYSERR_INVALFLAG;
    }
    *driver = new AcmDriver{kDriverMagic, index};
    return MMSYSERR_NOERROR;
}

MMRESULT acmDriverClose(HACMDRIVER driver, uint32_t flags) {
    if (driver == nullptr || driver->magic != kDriverMagic) {
        return MMSYSERR_INVALHANDLE;
    }
    if (flags != 0) {
        return MMSYSERR_INVALFLAG;
    }
    driver->magic = kDeadMagic;
    delete driver;
    return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagDetailsA(HACMDRIVER driver, ACMFORMATTAGDETAILSA* details, uint32_t flags) {
    if (driver == nullptr || driver->magic != kDriverMagic) {
        return MMSYSERR_INVALHANDLE;
    }
    if (details == nullptr || details->cbStruct != sizeof(ACMFORMATTAGDETAILSA)) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags != ACM_FORMATTAGDETAILSF_INDEX) {
        return MMSYSERR_INVALFLAG;
    }
    const AcmDriverInfo& d = AcmDriverAt(driver->index);
    if (details->dwFormatTagIndex >= d.tagCount) {
        return MMSYSERR_INVALPARAM;
    }
    const AcmTagInfo& tag = d.tags[details->dwFormatTagIndex];
    details->dwFormatTag = tag.tag;
    details->cbFormatSize = tag.formatSize;
    details->fdwSupport = d.support;
    details->cFormats = tag.formats;
    std::memset(details->szFormatTag, 0, sizeof details->szFormatTag);
    CopyName(details->szFormatTag, sizeof details->szFormatTag, tag.name);
    return MMSYSERR_NOERROR;
}

MMRESULT acmMetrics(void* object, uint32_t metric, void* value) {
    if (value == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if (metric != ACM_METRIC_MAX_SIZE_FORMAT) {
        return MMSYSERR_NOTSUPPORTED;
    }
    if (object != nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    const uint32_t size = AcmMaxFormatSize();
    std::memcpy(value, &size, sizeof size);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, const void* srcFormat,
                       uint32_t srcFormatBytes, const void* dstFormat, uint32_t dstFormatBytes,
                       uint32_t flags) {
    if (stream == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *stream = nullptr;
    if (driver != nullptr && driver->magic != kDriverMagic) {
        return MMSYSERR_INVALHANDLE;
    }
    if ((flags & ~ACM_STREAMOPENF_LOWLATENCY) != 0) {
        return MMSYSERR_INVALFLAG;
    }
    AudioFormat src;
    AudioFormat dst;
    if (srcFormat == nullptr || dstFormat == nullptr || srcFormatBytes < 16 ||
        dstFormatBytes < 16) {
        return MMSYSERR_INVALPARAM;
    }
    if (!src.Parse(srcFormat, srcFormatBytes) || !dst.Parse(dstFormat, dstFormatBytes)) {
        return ACMERR_NOTPOSSIBLE;
    }
    int chosen = -1;
    std::unique_ptr<CodecStream> codec =
        AcmCreateCodec(src, dst, driver != nullptr ? driver->index : -1, chosen,
                       (flags & ACM_STREAMOPENF_LOWLATENCY) != 0);
    if (codec == nullptr) {
        return ACMERR_NOTPOSSIBLE;
    }
    *stream = new AcmStream{kStreamMagic, chosen, std::move(codec)};
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags) {
    if (!ValidStream(stream)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (flags != 0) {
        return MMSYSERR_INVALFLAG;
    }
    stream->magic = kDeadMagic;
    delete stream;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t input, uint32_t* output, uint32_t flags) {
    if (!ValidStream(stream)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (output == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags == ACM_STREAMSIZEF_SOURCE) {
        *output = stream->codec->DstBoundFor(input);
    } else if (flags == ACM_STREAMSIZEF_DESTINATION) {
        *output = stream->codec->SrcNeededFor(input);
    } else {
        return MMSYSERR_INVALFLAG;
    }
    return *output == 0 && input != 0 ? ACMERR_NOTPOSSIBLE : MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) {
    if (!ValidStream(stream)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || header->cbStruct != ACMSTREAMHEADER_SIZE ||
        (header->pbSrc == nullptr && header->cbSrcLength > 0) ||
        (header->pbDst == nullptr && header->cbDstLength > 0)) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags != 0) {
        return MMSYSERR_INVALFLAG;
    }
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) != 0) {
        return header->reservedDriver == stream ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
    }
    // Storage for calls of this size is made now, so that converting does not allocate.
    stream->codec->Reserve(header->cbSrcLength, header->cbDstLength);
    header->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
    header->reservedDriver = stream;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) {
    if (!ValidStream(stream)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || header->cbStruct != ACMSTREAMHEADER_SIZE) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags != 0) {
        return MMSYSERR_INVALFLAG;
    }
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) {
        return ACMERR_UNPREPARED;
    }
    if (header->reservedDriver != stream) {
        return MMSYSERR_INVALPARAM;
    }
    header->fdwStatus &= ~(ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE);
    header->reservedDriver = nullptr;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags) {
    if (!ValidStream(stream)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || header->cbStruct != ACMSTREAMHEADER_SIZE) {
        return MMSYSERR_INVALPARAM;
    }
    constexpr uint32_t kKnown =
        ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
    if ((flags & ~kKnown) != 0) {
        return MMSYSERR_INVALFLAG;
    }
    if ((header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) == 0) {
        return ACMERR_UNPREPARED;
    }
    if (header->reservedDriver != stream || (header->pbSrc == nullptr && header->cbSrcLength > 0) ||
        (header->pbDst == nullptr && header->cbDstLength > 0)) {
        return MMSYSERR_INVALPARAM;
    }
    header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    CodecStream& codec = *stream->codec;
    if ((flags & ACM_STREAMCONVERTF_START) != 0) {
        codec.Reset();
    }
    codec.Process(header->pbSrc, header->cbSrcLength, (flags & ACM_STREAMCONVERTF_END) != 0);
    // Partial blocks are held inside the stream, so the whole source counts as consumed.
    header->cbSrcLengthUsed = header->cbSrcLength;
    header->cbDstLengthUsed = codec.Output().Take(header->pbDst, header->cbDstLength);
    header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}
