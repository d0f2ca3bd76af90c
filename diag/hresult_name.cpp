#include <algorithm>

#include "diag/hresult_table.h"
#include "diag/report.h"

// An exact 32-bit match: a code is never named after its facility or severity.
LPCWSTR HresultName(HRESULT hr) {
    const uint32_t key = static_cast<uint32_t>(hr);
    const HresultNameEntry* end = kHresultNames + kHresultNameCount;
    const HresultNameEntry* entry = std::lower_bound(
        kHresultNames, end, key,
        [](const HresultNameEntry& e, uint32_t k) { return e.key < k; });
    return entry != end && entry->key == key ? entry->name : WIDE("Unknown");
}
