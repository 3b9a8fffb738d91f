#include "media/formattagcatalog.h"

#include <cstring>

#include "codec/formattags.h"

FormatTagCatalog::FormatTagCatalog() {
    Refresh();
}

void FormatTagCatalog::Refresh() {
    m_entries.clear();
    for (const ACMFORMATTAGDETAILSA& tag : EnumerateFormatTags()) {
        Add(tag);
    }
    m_maxFormatSize = 0;
    uint32_t maxSize = 0;
    if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &maxSize) == MMSYSERR_NOERROR) {
        m_maxFormatSize = maxSize;
    }
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
