// Placeholder codec services with no installed drivers: the catalogue is empty and no
// stream can be opened. Replaced by the FFmpeg-backed services.
#include "platform/acm.h"

MMRESULT acmDriverEnum(ACMDRIVERENUMCB, uintptr_t, uint32_t) { return MMSYSERR_NOERROR; }
MMRESULT acmDriverDetailsA(HACMDRIVERID, ACMDRIVERDETAILSA*, uint32_t) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT acmDriverOpen(HACMDRIVER*, HACMDRIVERID, uint32_t) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmDriverClose(HACMDRIVER, uint32_t) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmFormatTagDetailsA(HACMDRIVER, ACMFORMATTAGDETAILSA*, uint32_t) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT acmMetrics(void*, uint32_t, void*) { return MMSYSERR_ERROR; }
MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER, const void*, uint32_t, const void*,
                       uint32_t, uint32_t) {
    if (stream != nullptr) {
        *stream = nullptr;
    }
    return ACMERR_NOTPOSSIBLE;
}
MMRESULT acmStreamClose(HACMSTREAM, uint32_t) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmStreamSize(HACMSTREAM, uint32_t, uint32_t*, uint32_t) { return MMSYSERR_INVALHANDLE; }
MMRESULT acmStreamPrepareHeader(HACMSTREAM, ACMSTREAMHEADER*, uint32_t) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT acmStreamUnprepareHeader(HACMSTREAM, ACMSTREAMHEADER*, uint32_t) {
    return MMSYSERR_INVALHANDLE;
}
MMRESULT acmStreamConvert(HACMSTREAM, ACMSTREAMHEADER*, uint32_t) { return MMSYSERR_INVALHANDLE; }
