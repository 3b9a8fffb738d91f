#include "codec/formattags.h"

#include <cstdint>

namespace {

bool AddDriverTags(HACMDRIVERID driverId, uintptr_t instance, uint32_t support) {
    auto& tags = *reinterpret_cast<std::vector<ACMFORMATTAGDETAILSA>*>(instance);
    if ((support & ACMDRIVERDETAILS_SUPPORTF_CODEC) == 0) {
        return true;
    }
    ACMDRIVERDETAILSA details{};
    details.cbStruct = sizeof details;
    if (acmDriverDetailsA(driverId, &details, 0) != MMSYSERR_NOERROR) {
        return true;
    }
    HACMDRIVER driver = nullptr;
    if (acmDriverOpen(&driver, driverId, 0) != MMSYSERR_NOERROR) {
        return true;
    }
    for (uint32_t index = 0; index < details.cFormatTags; ++index) {
        ACMFORMATTAGDETAILSA tag{};
        tag.cbStruct = sizeof tag;
        tag.dwFormatTagIndex = index;
        if (acmFormatTagDetailsA(driver, &tag, ACM_FORMATTAGDETAILSF_INDEX) == MMSYSERR_NOERROR) {
            tags.push_back(tag);
        }
    }
    acmDriverClose(driver, 0);
    return true;  // always on to the next driver
}

}  // namespace

std::vector<ACMFORMATTAGDETAILSA> EnumerateFormatTags() {
    std::vector<ACMFORMATTAGDETAILSA> tags;
    acmDriverEnum(&AddDriverTags, reinterpret_cast<uintptr_t>(&tags), 0);
    return tags;
}
