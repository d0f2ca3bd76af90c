// The filter descriptor the host reads through the library's only export.
#include "plugin/plugin.h"
#include "plugin/version.h"

namespace {

const char* const kTrackNames[KELO_TRACK_COUNT] = {
    "Y(offs)", "Y(gain)", "Cb(offs)", "Cb(gain)", "Cr(offs)", "Cr(gain)", "R(offs)", "R(gain)",
    "R(gamm)", "G(offs)", "G(gain)", "G(gamm)",  "B(offs)",  "B(gain)",  "B(gamm)",
};
const int32_t kTrackDefaults[KELO_TRACK_COUNT] = {};
const int32_t kTrackMinimums[KELO_TRACK_COUNT] = {
    -256, -256, -256, -256, -256, -256, -256, -256, -256, -256, -256, -256, -256, -256, -256,
};
const int32_t kTrackMaximums[KELO_TRACK_COUNT] = {
    256, 256, 256, 256, 256, 256, 256, 256, 256, 256, 256, 256, 256, 256, 256,
};

const char* const kCheckNames[KELO_CHECK_COUNT] = {"F16", "pow2"};
const int32_t kCheckDefaults[KELO_CHECK_COUNT] = {};

// Writable on purpose: hosts fill track/check in their copy, and one that
// writes into this record instead must not fault on a read-only page.
FILTER_DLL g_descriptor = {
    .flag = FILTER_FLAG_EX_INFORMATION,
    .x = 0,
    .y = 0,
    .name = KELO_FILTER_NAME,
    .track_n = KELO_TRACK_COUNT,
    .track_name = kTrackNames,
    .track_default = kTrackDefaults,
    .track_s = kTrackMinimums,
    .track_e = kTrackMaximums,
    .check_n = KELO_CHECK_COUNT,
    .check_name = kCheckNames,
    .check_default = kCheckDefaults,
    .func_proc = FilterProc,
    .func_init = FilterInit,
    .func_exit = FilterExit,
    .func_update = nullptr,
    .func_WndProc = nullptr,
    .track = nullptr,
    .check = nullptr,
    .ex_data_ptr = nullptr,
    .ex_data_size = 0,
    .information = KELO_INFORMATION,
    .func_save_start = nullptr,
    .func_save_end = nullptr,
    .exfunc = nullptr,
    .hwnd = nullptr,
    .dll_hinst = nullptr,
    .ex_data_def = nullptr,
    .func_is_saveframe = nullptr,
    .func_project_load = nullptr,
    .func_project_save = nullptr,
    .func_modify_title = nullptr,
    .dll_path = nullptr,
    .reserved = {0, 0},
};

}  // namespace

FILTER_DLL* __cdecl GetFilterTable() { return &g_descriptor; }
