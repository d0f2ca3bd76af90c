#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "diag/hresult_table.h"
#include "diag/report.h"

namespace {

std::string Narrow(LPCWSTR text) {
    std::string out;
    for (; *text != 0; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

std::string Hex(uint32_t key) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", key);
    return text;
}

std::string NameOf(uint32_t key) { return Narrow(HresultName(static_cast<HRESULT>(key))); }

const uint32_t kWin32Last = 14080;
const uint32_t kWin32Hresult = 0x80070000;

TEST(HresultTable, IsSortedByUniqueKeysAndEveryKeyIsFoundUnderItsName) {
    ASSERT_GT(kHresultNameCount, 0u);
    for (size_t i = 0; i < kHresultNameCount; ++i) {
        const HresultNameEntry& entry = kHresultNames[i];
        if (i > 0) {
            EXPECT_LT(kHresultNames[i - 1].key, entry.key) << "entry " << i << " " << Hex(entry.key);
        }
        EXPECT_EQ(HresultName(static_cast<HRESULT>(entry.key)), entry.name) << Hex(entry.key);
    }
}

bool InFamilyRange(uint32_t key) {
    const uint32_t facility = (key >> 16) & 0x1FFF;
    const bool failure = (key & 0x80000000u) != 0;
    if (key <= kWin32Last) return true;
    if (key > kWin32Hresult && key <= kWin32Hresult + kWin32Last) return true;
    if (key == 0x0876086F || (key >= 0x88760005 && key <= 0x88760B5C) ||
        (key >= 0xC8770BB8 && key <= 0xC8770BDB)) {
        return true;
    }
    if ((facility <= 4 || facility == 8) && (failure || facility != 0)) return true;
    for (uint32_t f : {0x9u, 0xBu, 0xFu, 0x10u, 0x11u, 0x15u, 0x878u, 0x879u, 0x87Au, 0xAC7u}) {
        if (facility == f) return true;
    }
    return false;
}

// Each name is a published identifier, a range marker with an offset, or
// several identifiers joined by " & "; with its value it fits the code buffer.
TEST(HresultTable, KeysLieInTheCoveredRangesAndNamesFitTheCodeBuffer) {
    size_t longest = 0;
    for (size_t i = 0; i < kHresultNameCount; ++i) {
        const HresultNameEntry& entry = kHresultNames[i];
        EXPECT_TRUE(InFamilyRange(entry.key)) << Hex(entry.key) << " " << Narrow(entry.name);
        const std::string name = Narrow(entry.name);
        EXPECT_EQ(name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_ &+"),
                  std::string::npos)
            << Hex(entry.key) << " " << name;
        longest = std::max(longest, name.size());
    }
    EXPECT_EQ(longest, 74u);
    EXPECT_LE(longest + std::string(" (0x00000000)").size(), 255u);
}

TEST(HresultTable, WindowsCodesAreKeyedTwiceUnderOneNameSaveTheStatedExceptions) {
    const std::set<uint32_t> renamedTwins = {1, 5, 6, 14, 87};
    const std::set<uint32_t> noTwin = {200, 201};
    for (size_t i = 0; i < kHresultNameCount; ++i) {
        const uint32_t key = kHresultNames[i].key;
        if (key >= 1 && key <= kWin32Last && !renamedTwins.count(key) && !noTwin.count(key)) {
            EXPECT_EQ(NameOf(kWin32Hresult + key), NameOf(key)) << "twin of " << key;
        }
        if (key > kWin32Hresult && key <= kWin32Hresult + kWin32Last) {
            EXPECT_NE(NameOf(key - kWin32Hresult), "Unknown") << Hex(key) << " has no plain key";
        }
    }
    const struct {
        uint32_t key;
        const char* name;
    } exceptions[] = {
        {0, "S_OK"},
        {1, "S_FALSE"},
        {0x80070001, "ERROR_INVALID_FUNCTION"},
        {5, "ERROR_ACCESS_DENIED"},
        {0x80070005, "E_ACCESSDENIED"},
        {6, "ERROR_INVALID_HANDLE"},
        {0x80070006, "E_HANDLE"},
        {14, "ERROR_OUTOFMEMORY"},
        {0x8007000E, "E_OUTOFMEMORY"},
        {87, "ERROR_INVALID_PARAMETER"},
        {0x80070057, "E_INVALIDARG"},
        {200, "ERROR_RING2SEG_MUST_BE_MOVABLE"},
        {201, "ERROR_RELOC_CHAIN_XEEDS_SEGLIM"},
        {0x800700C8, "Unknown"},
        {0x800700C9, "Unknown"},
        {0x80070000, "Unknown"},
    };
    for (const auto& e : exceptions) EXPECT_EQ(NameOf(e.key), e.name) << Hex(e.key);
}

TEST(HresultTable, JoinsEveryNameOf28ValuesThatServe39Keys) {
    std::set<std::string> joined;
    size_t keys = 0;
    for (size_t i = 0; i < kHresultNameCount; ++i) {
        const std::string name = Narrow(kHresultNames[i].name);
        if (name.find(" & ") != std::string::npos) {
            joined.insert(name);
            ++keys;
        }
    }
    EXPECT_EQ(joined.size(), 28u);
    EXPECT_EQ(keys, 39u);
    EXPECT_EQ(NameOf(259), "ERROR_NO_MORE_ITEMS & DIERR_NOMOREITEMS");
    EXPECT_EQ(NameOf(0x80070103), "ERROR_NO_MORE_ITEMS & DIERR_NOMOREITEMS");
    EXPECT_EQ(NameOf(1168), "ERROR_NOT_FOUND & E_PROP_ID_UNSUPPORTED");
    EXPECT_EQ(NameOf(0x00040003), "MS_S_ENDOFSTREAM & WBEM_S_DIFFERENT");
    EXPECT_EQ(NameOf(0x80040201), "DIERR_DEVICEFULL & VFW_E_INVALIDSUBTYPE & DMO_E_INVALIDSTREAMINDEX");
    EXPECT_EQ(NameOf(0x80040402), "DIERR_BADINF & MS_E_PURPOSEID");
}

TEST(HresultTable, RangeMarkersAreNamesAndTheGapBetweenThemIsUnknown) {
    EXPECT_EQ(NameOf(0x80040300), "DIERR_DRIVERFIRST");
    for (uint32_t offset = 1; offset <= 5; ++offset) {
        EXPECT_EQ(NameOf(0x80040300 + offset), "DIERR_DRIVERFIRST+" + std::to_string(offset));
    }
    EXPECT_EQ(NameOf(0x800403FF), "DIERR_DRIVERLAST");
    for (uint32_t key = 0x80040306; key <= 0x800403FE; ++key) {
        EXPECT_EQ(NameOf(key), key == 0x800403F2 ? "VFW_E_BAD_KEY" : "Unknown") << Hex(key);
    }
    EXPECT_EQ(NameOf(0x80040000), "OLE_E_FIRST");
    EXPECT_EQ(NameOf(0x800400FF), "OLE_E_LAST");
}

TEST(HresultTable, HoldsTheEntriesTheReportsRelyOn) {
    const struct {
        uint32_t key;
        const char* name;
    } entries[] = {
        {0x8876017C, "D3DERR_OUTOFVIDEOMEMORY"},
        {0x8876021C, "DDERR_WASSTILLDRAWING"},
        {0x80004005, "E_FAIL"},
        {0x8876086A, "D3DERR_NOTAVAILABLE"},
        {0x8876086C, "D3DERR_INVALIDCALL"},
        {0x88760868, "D3DERR_DEVICELOST"},
        {0x88760B59, "D3DXERR_INVALIDDATA"},
        {0x0876086F, "D3DOK_NOAUTOGEN"},
        {0x8876086E, "Unknown"},
        {194, "ERROR_ITERATED_DATA_EXCEEDS_64k"},
        {199, "ERROR_AUTODATASEG_EXCEEDS_64k"},
        {11024, "WSA_QOS_EUNKOWNPSOBJ"},
        {0xC0090001, "ERROR_AUDITING_DISABLED"},
        {0xC0090002, "ERROR_ALL_SIDS_FILTERED"},
        {0x80040901, "DXUTERR_NODIRECT3D"},
        {0x8004090A, "DXUTERR_DEVICEREMOVED"},
        {0x88790001, "D3D10_ERROR_TOO_MANY_UNIQUE_STATE_OBJECTS"},
        {0x00000102, "WAIT_TIMEOUT"},
    };
    for (const auto& e : entries) EXPECT_EQ(NameOf(e.key), e.name) << Hex(e.key);
    EXPECT_EQ(NameOf(0xFFFFFFFF), "Unknown");
    EXPECT_EQ(NameOf(0x00070005), "Unknown") << "no masking of the severity bit";
}

}  // namespace
