#pragma once
// The format tags that the installed codec drivers report, each with the driver's name for
// it, and the largest format record any driver uses. Built once by Refresh (run by the
// constructor) on the thread that owns it; never shared between threads.

#include <cstdint>
#include <vector>

#include "codec/acm.h"

class FormatTagCatalog {
public:
    FormatTagCatalog();
    virtual ~FormatTagCatalog() = default;

    // Rebuilds the entries from the installed drivers and queries the largest format size.
    void Refresh();
    // Copies the first entry with this tag into details and returns true; false otherwise
    // (details untouched).
    bool FindTag(uint32_t formatTag, ACMFORMATTAGDETAILSA& details) const;
    // The largest format record of any driver; 0 when the query failed.
    uint32_t MaxFormatSize() const { return m_maxFormatSize; }
    const std::vector<ACMFORMATTAGDETAILSA>& Entries() const { return m_entries; }

private:
    void Add(const ACMFORMATTAGDETAILSA& details);

    std::vector<ACMFORMATTAGDETAILSA> m_entries;
    uint32_t m_maxFormatSize = 0;
};
