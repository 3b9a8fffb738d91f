#pragma once
// Audio codec services: a catalogue of codec drivers and synchronous conversion streams,
// with the contract the engine and the converter were designed against (driver enumeration,
// format-tag details, the largest format record, and streams that open between two format
// records, size from either side, prepare headers, convert block-aligned, close).
//
// All functions return MMRESULT 0 (MMSYSERR_NOERROR) on success. They may be called from
// any thread; one stream or driver handle is used by one thread at a time.
//
// Format records are passed as byte blocks with their size: a block is a WAVEFORMATEX
// (platform/waveformat.h) possibly followed by cbSize bytes of format-specific data. The
// services never read past the size they are given (a 16-byte PCM "fmt " body is valid).

#include <cstdint>

#include "codec/waveformat.h"

using MMRESULT = uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_UNPREPARED = 514;

// Opaque handles.
struct AcmDriverId;
struct AcmDriver;
struct AcmStream;
using HACMDRIVERID = AcmDriverId*;
using HACMDRIVER = AcmDriver*;
using HACMSTREAM = AcmStream*;

// Driver support flags.
constexpr uint32_t ACMDRIVERDETAILS_SUPPORTF_CODEC = 0x00000001;      // converts between tags
constexpr uint32_t ACMDRIVERDETAILS_SUPPORTF_CONVERTER = 0x00000002;  // same tag, other rate
constexpr uint32_t ACMDRIVERDETAILS_SUPPORTF_FILTER = 0x00000004;

constexpr uint32_t ACMDRIVERDETAILS_SHORTNAME_CHARS = 32;
constexpr uint32_t ACMDRIVERDETAILS_LONGNAME_CHARS = 128;
constexpr uint32_t ACMDRIVERDETAILS_COPYRIGHT_CHARS = 80;
constexpr uint32_t ACMDRIVERDETAILS_LICENSING_CHARS = 128;
constexpr uint32_t ACMDRIVERDETAILS_FEATURES_CHARS = 512;
constexpr uint32_t ACMFORMATTAGDETAILS_FORMATTAG_CHARS = 48;

// Driver details; cbStruct must be 920 (sizeof this record).
struct ACMDRIVERDETAILSA {
    uint32_t cbStruct;
    uint32_t fccType;
    uint32_t fccComp;
    uint16_t wMid;
    uint16_t wPid;
    uint32_t vdwACM;
    uint32_t vdwDriver;
    uint32_t fdwSupport;
    uint32_t cFormatTags;
    uint32_t cFilterTags;
    uint32_t hicon;  // no icons here; always 0
    char szShortName[ACMDRIVERDETAILS_SHORTNAME_CHARS];
    char szLongName[ACMDRIVERDETAILS_LONGNAME_CHARS];
    char szCopyright[ACMDRIVERDETAILS_COPYRIGHT_CHARS];
    char szLicensing[ACMDRIVERDETAILS_LICENSING_CHARS];
    char szFeatures[ACMDRIVERDETAILS_FEATURES_CHARS];
};
static_assert(sizeof(ACMDRIVERDETAILSA) == 920);

// Format-tag details; cbStruct must be 72 (sizeof this record).
struct ACMFORMATTAGDETAILSA {
    uint32_t cbStruct;
    uint32_t dwFormatTagIndex;
    uint32_t dwFormatTag;
    uint32_t cbFormatSize;
    uint32_t fdwSupport;
    uint32_t cFormats;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
};
static_assert(sizeof(ACMFORMATTAGDETAILSA) == 72);

constexpr uint32_t ACM_FORMATTAGDETAILSF_INDEX = 0x00000000;

// The size callers write into ACMSTREAMHEADER::cbStruct: the record's size in the design's
// 32-bit layout. The services refuse a header with any other value.
constexpr uint32_t ACMSTREAMHEADER_SIZE = 84;

constexpr uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

struct ACMSTREAMHEADER {
    uint32_t cbStruct;  // ACMSTREAMHEADER_SIZE
    uint32_t fdwStatus;
    uintptr_t dwUser;
    uint8_t* pbSrc;
    uint32_t cbSrcLength;
    uint32_t cbSrcLengthUsed;
    uintptr_t dwSrcUser;
    uint8_t* pbDst;
    uint32_t cbDstLength;
    uint32_t cbDstLengthUsed;
    uintptr_t dwDstUser;
    void* reservedDriver;  // owned by the services while prepared
};

// Returns true to go on with the next driver.
using ACMDRIVERENUMCB = bool (*)(HACMDRIVERID driverId, uintptr_t instance, uint32_t support);

MMRESULT acmDriverEnum(ACMDRIVERENUMCB callback, uintptr_t instance, uint32_t flags);
MMRESULT acmDriverDetailsA(HACMDRIVERID driverId, ACMDRIVERDETAILSA* details, uint32_t flags);
MMRESULT acmDriverOpen(HACMDRIVER* driver, HACMDRIVERID driverId, uint32_t flags);
MMRESULT acmDriverClose(HACMDRIVER driver, uint32_t flags);
// Query by index (ACM_FORMATTAGDETAILSF_INDEX): fills dwFormatTag, cbFormatSize,
// fdwSupport, cFormats and szFormatTag of details->dwFormatTagIndex.
MMRESULT acmFormatTagDetailsA(HACMDRIVER driver, ACMFORMATTAGDETAILSA* details, uint32_t flags);

constexpr uint32_t ACM_METRIC_MAX_SIZE_FORMAT = 50;
// With ACM_METRIC_MAX_SIZE_FORMAT and no object, writes a uint32_t: the largest format
// record (WAVEFORMATEX plus extra bytes) of any driver.
MMRESULT acmMetrics(void* object, uint32_t metric, void* value);

// This library's own open flag: a stream for live audio, which yields its output soon after
// its input comes (a rate converter then runs a short minimum-phase filter) instead of in the
// larger blocks that serve files best.
constexpr uint32_t ACM_STREAMOPENF_LOWLATENCY = 0x00010000;

// Opens a synchronous stream from one format record to another; ACMERR_NOTPOSSIBLE when no
// driver converts between them. driver may be null (any driver); flags must be 0 or
// ACM_STREAMOPENF_LOWLATENCY. Records
// with more than kMaxWaveChannels channels are refused. A stream to fewer channels mixes
// each output sample as the average of the input channels (mono: all of them).
MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, const void* srcFormat,
                       uint32_t srcFormatBytes, const void* dstFormat, uint32_t dstFormatBytes,
                       uint32_t flags);
MMRESULT acmStreamClose(HACMSTREAM stream, uint32_t flags);

constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr uint32_t ACM_STREAMSIZEF_DESTINATION = 0x00000001;
// SOURCE: the destination bytes that `input` source bytes can produce at most (a safe upper
// bound). DESTINATION: the source bytes needed to produce `input` destination bytes.
MMRESULT acmStreamSize(HACMSTREAM stream, uint32_t input, uint32_t* output, uint32_t flags);

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags);

constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr uint32_t ACM_STREAMCONVERTF_START = 0x00000010;
constexpr uint32_t ACM_STREAMCONVERTF_END = 0x00000020;
// Converts header->cbSrcLength bytes from pbSrc into pbDst (at most cbDstLength bytes) and
// sets cbSrcLengthUsed and cbDstLengthUsed. State (a partial MPEG frame, the resampler's
// history) carries over to the next call on the same stream.
MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, uint32_t flags);
