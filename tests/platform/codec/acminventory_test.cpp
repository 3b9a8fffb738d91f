// The driver inventory: enumeration, details, format tags, the largest format record, and
// the format-tag catalogue built over it.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "codec/acm.h"
#include "codec/formattags.h"
#include "codecmedia.h"
#include "media/formattagcatalog.h"

namespace {

struct Found {
    std::vector<HACMDRIVERID> ids;
    std::vector<uint32_t> support;
    size_t stopAfter = 0;
};

bool Collect(HACMDRIVERID id, uintptr_t instance, uint32_t support) {
    auto* f = reinterpret_cast<Found*>(instance);
    f->ids.push_back(id);
    f->support.push_back(support);
    return f->stopAfter == 0 || f->ids.size() < f->stopAfter;
}

std::vector<HACMDRIVERID> AllDrivers() {
    Found f;
    EXPECT_EQ(acmDriverEnum(&Collect, reinterpret_cast<uintptr_t>(&f), 0), MMSYSERR_NOERROR);
    return f.ids;
}

TEST(AcmInventory, EnumerationVisitsEachDriverAndStopsOnFalse) {
    Found all;
    ASSERT_EQ(acmDriverEnum(&Collect, reinterpret_cast<uintptr_t>(&all), 0), MMSYSERR_NOERROR);
    ASSERT_GE(all.ids.size(), 4u);
    EXPECT_EQ(std::set<HACMDRIVERID>(all.ids.begin(), all.ids.end()).size(), all.ids.size());
    for (uint32_t s : all.support) {
        EXPECT_NE(s & ACMDRIVERDETAILS_SUPPORTF_CODEC, 0u);
    }
    Found one;
    one.stopAfter = 1;
    ASSERT_EQ(acmDriverEnum(&Collect, reinterpret_cast<uintptr_t>(&one), 0), MMSYSERR_NOERROR);
    EXPECT_EQ(one.ids.size(), 1u);

    EXPECT_EQ(acmDriverEnum(nullptr, 0, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmDriverEnum(&Collect, reinterpret_cast<uintptr_t>(&one), 0x40000000u),
              MMSYSERR_INVALFLAG);
}

// The tags walked by hand, driver by driver, are what the shared enumeration gives, in the
// same order with duplicates kept (every driver names PCM).
TEST(AcmInventory, DetailsTagsAndRefusals) {
    std::set<uint32_t> tags;
    int mp3Tags = 0;
    std::vector<std::pair<uint32_t, std::string>> walked;
    for (HACMDRIVERID id : AllDrivers()) {
        ACMDRIVERDETAILSA d{};
        d.cbStruct = 100;
        EXPECT_EQ(acmDriverDetailsA(id, &d, 0), MMSYSERR_INVALPARAM);
        d.cbStruct = sizeof d;
        ASSERT_EQ(acmDriverDetailsA(id, &d, 0), MMSYSERR_NOERROR);
        EXPECT_GT(std::strlen(d.szShortName), 0u);
        EXPECT_GT(std::strlen(d.szLongName), 0u);
        EXPECT_GT(d.cFormatTags, 0u);

        HACMDRIVER driver = nullptr;
        ASSERT_EQ(acmDriverOpen(&driver, id, 0), MMSYSERR_NOERROR);
        for (uint32_t i = 0; i <= d.cFormatTags; ++i) {
            ACMFORMATTAGDETAILSA t{};
            t.cbStruct = sizeof t;
            t.dwFormatTagIndex = i;
            const MMRESULT r = acmFormatTagDetailsA(driver, &t, ACM_FORMATTAGDETAILSF_INDEX);
            if (i == d.cFormatTags) {
                EXPECT_NE(r, MMSYSERR_NOERROR) << "index past the last tag";
                continue;
            }
            ASSERT_EQ(r, MMSYSERR_NOERROR);
            EXPECT_GT(std::strlen(t.szFormatTag), 0u);
            EXPECT_GE(t.cbFormatSize, 16u);
            tags.insert(t.dwFormatTag);
            mp3Tags += t.dwFormatTag == WAVE_FORMAT_MPEGLAYER3;
            walked.emplace_back(t.dwFormatTag, t.szFormatTag);
        }
        ACMFORMATTAGDETAILSA wrong{};
        wrong.cbStruct = 48;
        EXPECT_EQ(acmFormatTagDetailsA(driver, &wrong, ACM_FORMATTAGDETAILSF_INDEX),
                  MMSYSERR_INVALPARAM);
        EXPECT_EQ(acmDriverClose(driver, 0), MMSYSERR_NOERROR);
    }
    for (uint32_t tag : {1u, 2u, 3u, 6u, 7u, 17u, 0x31u, 0x50u, 0x55u}) {
        EXPECT_TRUE(tags.count(tag)) << "tag " << tag;
    }
    EXPECT_EQ(mp3Tags, 1);
    std::vector<std::pair<uint32_t, std::string>> enumerated;
    for (const ACMFORMATTAGDETAILSA& t : EnumerateFormatTags()) {
        enumerated.emplace_back(t.dwFormatTag, t.szFormatTag);
    }
    EXPECT_EQ(enumerated, walked);

    ACMDRIVERDETAILSA d{};
    d.cbStruct = sizeof d;
    int bogus = 0;
    EXPECT_EQ(acmDriverDetailsA(reinterpret_cast<HACMDRIVERID>(&bogus), &d, 0),
              MMSYSERR_INVALHANDLE);
    HACMDRIVER h = reinterpret_cast<HACMDRIVER>(&bogus);
    EXPECT_EQ(acmDriverOpen(&h, reinterpret_cast<HACMDRIVERID>(&bogus), 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(acmDriverClose(nullptr, 0), MMSYSERR_INVALHANDLE);
}

TEST(AcmInventory, LargestFormatRecord) {
    uint32_t size = 0;
    ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size), MMSYSERR_NOERROR);
    // The ADPCM record with its seven coefficient pairs is the largest.
    EXPECT_EQ(size, 50u);
    EXPECT_NE(acmMetrics(nullptr, 12345, &size), MMSYSERR_NOERROR);
    EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, nullptr), MMSYSERR_INVALPARAM);
}

TEST(AcmInventory, OpeningThroughOneDriverUsesOnlyThatDriver) {
    const auto pcm = codecmedia::Pcm16Format(1, 8000);
    const auto mulaw = codecmedia::Format(WAVE_FORMAT_MULAW, 1, 8000, 8);
    int opened = 0;
    for (HACMDRIVERID id : AllDrivers()) {
        HACMDRIVER driver = nullptr;
        ASSERT_EQ(acmDriverOpen(&driver, id, 0), MMSYSERR_NOERROR);
        HACMSTREAM s = nullptr;
        const MMRESULT r = acmStreamOpen(&s, driver, pcm.data(), 18, mulaw.data(), 18, 0);
        if (r == MMSYSERR_NOERROR) {
            ++opened;
            EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_NOERROR);
        } else {
            EXPECT_EQ(r, ACMERR_NOTPOSSIBLE);
            EXPECT_EQ(s, nullptr);
        }
        acmDriverClose(driver, 0);
    }
    EXPECT_EQ(opened, 1) << "exactly one driver encodes G.711";
}

TEST(FormatTagCatalogOverDrivers, NamesTagsAndDeduplicates) {
    FormatTagCatalog catalog;
    EXPECT_EQ(catalog.MaxFormatSize(), 50u);
    ACMFORMATTAGDETAILSA d{};
    ASSERT_TRUE(catalog.FindTag(WAVE_FORMAT_PCM, d));
    EXPECT_STREQ(d.szFormatTag, "PCM");
    ASSERT_TRUE(catalog.FindTag(WAVE_FORMAT_MPEGLAYER3, d));
    EXPECT_STREQ(d.szFormatTag, "MPEG Layer-3");
    ASSERT_TRUE(catalog.FindTag(WAVE_FORMAT_MULAW, d));
    EXPECT_STREQ(d.szFormatTag, "G.711 mu-law");
    ASSERT_TRUE(catalog.FindTag(WAVE_FORMAT_DVI_ADPCM, d));
    EXPECT_STREQ(d.szFormatTag, "IMA ADPCM");
    // Every driver reports tag 1 as "PCM": the catalogue keeps one entry for it.
    int pcmEntries = 0;
    for (const auto& e : catalog.Entries()) {
        pcmEntries += e.dwFormatTag == WAVE_FORMAT_PCM;
    }
    EXPECT_EQ(pcmEntries, 1);

    ACMFORMATTAGDETAILSA untouched{};
    untouched.dwFormatTag = 0xABCD;
    EXPECT_FALSE(catalog.FindTag(0x1234, untouched));
    EXPECT_EQ(untouched.dwFormatTag, 0xABCDu);
}

}  // namespace
