// The host's records, declared from the host's documented layouts. Built for
// 32 bits every field is four bytes wide and the offsets below are checked;
// 64-bit builds (Linux, and Windows x64, where long stays 4 bytes) keep the
// same field order with 8-byte pointers at their natural alignment, checked too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32_api.h"

#pragma pack(push, 1)
struct PIXEL_YC {
    int16_t y;
    int16_t cb;
    int16_t cr;
};
#pragma pack(pop)
static_assert(sizeof(PIXEL_YC) == 6);

struct FILTER;
struct FILTER_PROC_INFO;

typedef BOOL (*FilterProcFn)(FILTER* fp, FILTER_PROC_INFO* fpip);
typedef BOOL (*FilterInitFn)(FILTER* fp);
typedef BOOL (*FilterExitFn)(FILTER* fp);

#define FILTER_FLAG_EX_INFORMATION 0x00040000

// The descriptor the plug-in hands out (FILTER_DLL) and the record the host
// passes to the callbacks (FILTER) share one layout.
struct FILTER {
    int32_t flag;
    int32_t x, y;
    const char* name;
    int32_t track_n;
    const char* const* track_name;
    const int32_t* track_default;
    const int32_t* track_s;
    const int32_t* track_e;
    int32_t check_n;
    const char* const* check_name;
    const int32_t* check_default;
    FilterProcFn func_proc;
    FilterInitFn func_init;
    FilterExitFn func_exit;
    void* func_update;
    void* func_WndProc;
    int32_t* track;
    int32_t* check;
    void* ex_data_ptr;
    int32_t ex_data_size;
    const char* information;
    void* func_save_start;
    void* func_save_end;
    void* exfunc;
    HWND hwnd;
    void* dll_hinst;
    void* ex_data_def;
    void* func_is_saveframe;
    void* func_project_load;
    void* func_project_save;
    void* func_modify_title;
    char* dll_path;
    int32_t reserved[2];
};
typedef FILTER FILTER_DLL;

struct FILTER_PROC_INFO {
    int32_t flag;
    PIXEL_YC* ycp_edit;
    PIXEL_YC* ycp_temp;
    int32_t w, h;
    int32_t max_w, max_h;
    int32_t frame;
    int32_t frame_n;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(FILTER) == 140);
static_assert(offsetof(FILTER, name) == 12);
static_assert(offsetof(FILTER, track_n) == 16);
static_assert(offsetof(FILTER, check_n) == 36);
static_assert(offsetof(FILTER, func_proc) == 48);
static_assert(offsetof(FILTER, func_update) == 60);
static_assert(offsetof(FILTER, func_WndProc) == 64);
static_assert(offsetof(FILTER, track) == 68);
static_assert(offsetof(FILTER, check) == 72);
static_assert(offsetof(FILTER, information) == 84);
static_assert(offsetof(FILTER, hwnd) == 100);
static_assert(offsetof(FILTER_PROC_INFO, ycp_edit) == 4);
static_assert(offsetof(FILTER_PROC_INFO, w) == 12);
static_assert(offsetof(FILTER_PROC_INFO, h) == 16);
static_assert(offsetof(FILTER_PROC_INFO, max_w) == 20);
static_assert(offsetof(FILTER_PROC_INFO, frame_n) == 32);
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(FILTER) == 264);
static_assert(offsetof(FILTER, name) == 16);
static_assert(offsetof(FILTER, track_n) == 24);
static_assert(offsetof(FILTER, check_n) == 64);
static_assert(offsetof(FILTER, func_proc) == 88);
static_assert(offsetof(FILTER, func_update) == 112);
static_assert(offsetof(FILTER, func_WndProc) == 120);
static_assert(offsetof(FILTER, track) == 128);
static_assert(offsetof(FILTER, check) == 136);
static_assert(offsetof(FILTER, information) == 160);
static_assert(offsetof(FILTER, hwnd) == 192);
static_assert(offsetof(FILTER, reserved) == 256);
static_assert(sizeof(FILTER_PROC_INFO) == 48);
static_assert(offsetof(FILTER_PROC_INFO, ycp_edit) == 8);
static_assert(offsetof(FILTER_PROC_INFO, w) == 24);
static_assert(offsetof(FILTER_PROC_INFO, h) == 28);
static_assert(offsetof(FILTER_PROC_INFO, max_w) == 32);
static_assert(offsetof(FILTER_PROC_INFO, frame_n) == 44);
#endif
