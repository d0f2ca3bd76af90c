// The descriptor the host reads: every field and table, and the layout of the
// host's records on the platform the test runs on.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/plugin.h"

namespace {

TEST(Descriptor, FieldsHoldTheFilterSettingsAndCallbacks) {
    const FILTER_DLL* d = GetFilterTable();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d, GetFilterTable()) << "the descriptor is one static record";
    EXPECT_EQ(d->flag, 0x40000);
    EXPECT_EQ(d->x, 0);
    EXPECT_EQ(d->y, 0);
    EXPECT_STREQ(d->name, "RAVuvuv(test)");
    EXPECT_STREQ(d->information,
                 "RAVuvuv(test) version 1.0.0 - GPU colour correction (Direct3D 9)");
    EXPECT_EQ(d->func_proc, &FilterProc);
    EXPECT_EQ(d->func_init, &FilterInit);
    EXPECT_EQ(d->func_exit, &FilterExit);
    EXPECT_EQ(d->track, nullptr);
    EXPECT_EQ(d->check, nullptr);

    // Everything else is zero: window size, other callbacks, extra data, module path.
    const void* unused[] = {d->func_update,       d->func_WndProc,      d->ex_data_ptr,
                            d->func_save_start,   d->func_save_end,     d->exfunc,
                            d->hwnd,              d->dll_hinst,         d->ex_data_def,
                            d->func_is_saveframe, d->func_project_load, d->func_project_save,
                            d->func_modify_title, d->dll_path};
    for (size_t i = 0; i < std::size(unused); ++i) EXPECT_EQ(unused[i], nullptr) << "pointer " << i;
    EXPECT_EQ(d->ex_data_size, 0);
    EXPECT_EQ(d->reserved[0], 0);
    EXPECT_EQ(d->reserved[1], 0);
}

TEST(Descriptor, TablesListFifteenTracksAndTwoChecksInOrder) {
    const FILTER_DLL* d = GetFilterTable();
    const char* const tracks[] = {"Y(offs)", "Y(gain)", "Cb(offs)", "Cb(gain)", "Cr(offs)",
                                  "Cr(gain)", "R(offs)", "R(gain)",  "R(gamm)",  "G(offs)",
                                  "G(gain)", "G(gamm)", "B(offs)",  "B(gain)",  "B(gamm)"};
    ASSERT_EQ(d->track_n, 15);
    for (int i = 0; i < 15; ++i) {
        EXPECT_STREQ(d->track_name[i], tracks[i]) << "track " << i;
        EXPECT_EQ(d->track_default[i], 0) << "track " << i << " default";
        EXPECT_EQ(d->track_s[i], -256) << "track " << i << " minimum";
        EXPECT_EQ(d->track_e[i], 256) << "track " << i << " maximum";
    }
    ASSERT_EQ(d->check_n, 2);
    EXPECT_STREQ(d->check_name[0], "F16");
    EXPECT_STREQ(d->check_name[1], "pow2");
    EXPECT_EQ(d->check_default[0], 0);
    EXPECT_EQ(d->check_default[1], 0);
}

TEST(Descriptor, HostMayWriteIntoIt) {
    FILTER_DLL* d = GetFilterTable();
    int32_t track[15] = {};
    int32_t check[2] = {};
    d->track = track;
    d->check = check;
    EXPECT_EQ(GetFilterTable()->track, track);
    d->track = nullptr;
    d->check = nullptr;
}

// The host's records are 4-byte integers and pointers in a fixed order; with
// 32-bit pointers that gives the documented offsets, with 64-bit ones the same
// order at natural alignment.
size_t Advance(size_t& offset, size_t size) {
    offset = (offset + size - 1) / size * size;
    const size_t at = offset;
    offset += size;
    return at;
}

TEST(HostRecords, FieldsLieInTheHostOrder) {
    const size_t p = sizeof(void*);
    size_t at = 0;
    std::vector<size_t> filter;
    for (size_t size : {4, 4, 4, 0, 4, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0,
                        0, 0, 0, 0, 0, 0, 0, 0, 4, 4}) {
        filter.push_back(Advance(at, size == 0 ? p : size));
    }
    EXPECT_EQ(offsetof(FILTER, name), filter[3]);
    EXPECT_EQ(offsetof(FILTER, track_n), filter[4]);
    EXPECT_EQ(offsetof(FILTER, track_name), filter[5]);
    EXPECT_EQ(offsetof(FILTER, track_e), filter[8]);
    EXPECT_EQ(offsetof(FILTER, check_n), filter[9]);
    EXPECT_EQ(offsetof(FILTER, check_default), filter[11]);
    EXPECT_EQ(offsetof(FILTER, func_proc), filter[12]);
    EXPECT_EQ(offsetof(FILTER, func_exit), filter[14]);
    EXPECT_EQ(offsetof(FILTER, track), filter[17]);
    EXPECT_EQ(offsetof(FILTER, check), filter[18]);
    EXPECT_EQ(offsetof(FILTER, information), filter[21]);
    EXPECT_EQ(offsetof(FILTER, hwnd), filter[25]);
    EXPECT_EQ(offsetof(FILTER, dll_path), filter[32]);
    EXPECT_EQ(offsetof(FILTER, reserved), filter[33]);
    EXPECT_EQ(sizeof(FILTER), (at + p - 1) / p * p);
    if (p == 4) {
        EXPECT_EQ(sizeof(FILTER), 140u);
        EXPECT_EQ(offsetof(FILTER, information), 84u);
        EXPECT_EQ(offsetof(FILTER, hwnd), 100u);
    }

    at = 0;
    std::vector<size_t> info;
    for (size_t size : {4, 0, 0, 4, 4, 4, 4, 4, 4}) info.push_back(Advance(at, size == 0 ? p : size));
    EXPECT_EQ(offsetof(FILTER_PROC_INFO, ycp_edit), info[1]);
    EXPECT_EQ(offsetof(FILTER_PROC_INFO, w), info[3]);
    EXPECT_EQ(offsetof(FILTER_PROC_INFO, h), info[4]);
    EXPECT_EQ(offsetof(FILTER_PROC_INFO, max_w), info[5]);
    if (p == 4) {
        EXPECT_EQ(offsetof(FILTER_PROC_INFO, max_w), 20u);
    }
}

}  // namespace
