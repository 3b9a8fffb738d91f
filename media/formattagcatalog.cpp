#include "media/formattagcatalog.h"

#include <cstring>

FormatTagCatalog::FormatTagCatalog() { Refresh(); }

void FormatTagCatalog::Refresh() {
    m_entries.clear();
    acmDriverEnum(&FormatTagCatalog::EnumCallback, reinterpret_cast<uintptr_t>(this), 0);
    m_maxFormatSize = 0;
    uint32_t maxSize = 0;
    if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &maxSize) == MMSYSERR_NOERROR) {
        m_maxFormatSize = maxSize;
    }
}

bool FormatTagCatalog::EnumCallback(HACMDRIVERID driverId, uintptr_t instance, uint32_t support) {
    auto* self = reinterpret_cast<FormatTagCatalog*>(instance);
    if ((support & ACMDRIVERDETAILS_SUPPORTF_CODEC) == 0) {
        return true;
    }
    ACMDRIVERDETAILSA driverDetails{};
    driverDetails.cbStruct = sizeof driverDetails;
    if (acmDriverDetailsA(driverId, &driverDetails, 0) != MMSYSERR_NOERROR) {
        return true;
    }
    HACMDRIVER driver = nullptr;
    if (acmDriverOpen(&driver, driverId, 0) != MMSYSERR_NOERROR) {
        return true;
    }
    for (uint32_t i = 0; i < driverDetails.cFormatTags; ++i) {
        ACMFORMATTAGDETAILSA tag{};
        tag.cbStruct = sizeof tag;
        tag.dwFormatTagIndex = i;
        if (acmFormatTagDetailsA(driver, &tag, ACM_FORMATTAGDETAILSF_INDEX) == MMSYSERR_NOERROR) {
            self->Add(tag);
        }
    }
    acmDriverClose(driver, 0);
    return true;
}

void FormatTagCatalog::Add(const ACMFORMATTAGDETAILSA& details) {
    for (const auto& entry : m_entries) {
        if (entry.dwFormatTag == details.dwFormatTag &&
            std::strncmp(entry.szFormatTag, details.szFormatTag, sizeof entry.szFormatTag) == 0) {
            return;
        }
    }
    m_entries.push_back(details);
}

bool FormatTagCatalog::FindTag(uint32_t formatTag, ACMFORMATTAGDETAILSA& details) const {
    for (const auto& entry : m_entries) {
        if (entry.dwFormatTag == formatTag) {
            details = entry;
            return true;
        }
    }
    return false;
}
