// A stand-in for kelo.auf with the same descriptor shape and a change that
// is easy to predict: FilterProc adds "Y(offs)", "Cb(offs)" and "Cr(offs)"
// to Y, Cb and Cr. With "F16" ticked it answers in the second buffer and
// swaps the two, as some of the real host's filters do.
//
// It also checks what kelo relies on from its host, failing FilterInit or
// FilterProc when the host gets it wrong, and takes orders from the
// environment: KELO_TEST_FAIL=init or proc:N makes that call fail, and
// KELO_TEST_EXIT_MARK=PATH makes FilterExit add a line to PATH ("exit", or
// "exit on another thread" when the host called it from a thread other
// than FilterInit's); KELO_TEST_SIGNAL=N sends the process SIGTERM while
// frame N is in hand (KELO_TEST_SIGNALS times, once by default);
// KELO_TEST_DIE=N kills the process at frame N and KELO_TEST_INTERRUPT_PARENT=N
// sends its parent SIGINT there, for kelo-host's jobs. Frames must
// come in increasing order unless KELO_TEST_ANY_ORDER is set, as a seeking
// preview asks.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "plugin/filter.h"

#ifdef _WIN32
#define KELO_EXPORT __declspec(dllexport)
#else
#include <dlfcn.h>
#include <unistd.h>
#define KELO_EXPORT __attribute__((visibility("default")))
#endif

namespace {

const char* const kTrackNames[15] = {"Y(offs)", "Y(gain)", "Cb(offs)", "Cb(gain)", "Cr(offs)",
                                     "Cr(gain)", "R(offs)", "R(gain)", "R(gamm)", "G(offs)",
                                     "G(gain)", "G(gamm)", "B(offs)", "B(gain)", "B(gamm)"};
const int32_t kTrackDefaults[15] = {};
const int32_t kTrackMinimums[15] = {-256, -256, -256, -256, -256, -256, -256, -256,
                                    -256, -256, -256, -256, -256, -256, -256};
const int32_t kTrackMaximums[15] = {256, 256, 256, 256, 256, 256, 256, 256, 256, 256, 256, 256, 256, 256, 256};
const char* const kCheckNames[2] = {"F16", "pow2"};
const int32_t kCheckDefaults[2] = {0, 1};

bool FailRequested(const std::string& what) {
    const char* order = std::getenv("KELO_TEST_FAIL");
    return order && what == order;
}

std::filesystem::path OwnFolder() {
#ifdef _WIN32
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnFolder), &self);
    wchar_t path[32768];
    return std::filesystem::canonical(std::wstring(path, GetModuleFileNameW(self, path, 32768))).parent_path();
#else
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&OwnFolder), &info);
    return std::filesystem::canonical(info.dli_fname).parent_path();
#endif
}

// The editor calls all three from one thread, frames one at a time in
// order.
std::thread::id g_initThread;
int g_nextFrame = 0;

BOOL __cdecl TestInit(FILTER* fp) {
    g_initThread = std::this_thread::get_id();
    g_nextFrame = 0;
    if (FailRequested("init") || !fp->hwnd || std::filesystem::current_path() != OwnFolder()) return FALSE;
    return TRUE;
}

BOOL __cdecl TestExit(FILTER*) {
    if (const char* mark = std::getenv("KELO_TEST_EXIT_MARK")) {
        if (std::FILE* file = std::fopen(mark, "a")) {
            std::fputs(std::this_thread::get_id() == g_initThread ? "exit\n" : "exit on another thread\n", file);
            std::fclose(file);
        }
    }
    return TRUE;
}

BOOL __cdecl TestProc(FILTER* fp, FILTER_PROC_INFO* fpip) {
    if (FailRequested("proc:" + std::to_string(fpip->frame))) return FALSE;
    if (std::this_thread::get_id() != g_initThread) return FALSE;
    // Increasing, from wherever the run starts: a range of frames, or one
    // job's share of them.
    if (!std::getenv("KELO_TEST_ANY_ORDER") && fpip->frame < g_nextFrame) return FALSE;
    g_nextFrame = fpip->frame + 1;
    if (const char* at = std::getenv("KELO_TEST_SIGNAL"); at && std::atoi(at) == fpip->frame) {
        const char* times = std::getenv("KELO_TEST_SIGNALS");
        for (int i = 0; i < (times ? std::atoi(times) : 1); ++i) std::raise(SIGTERM);
    }
    if (const char* at = std::getenv("KELO_TEST_DIE"); at && std::atoi(at) == fpip->frame) std::raise(SIGKILL);
    if (const char* at = std::getenv("KELO_TEST_INTERRUPT_PARENT"); at && std::atoi(at) == fpip->frame) {
#ifndef _WIN32
        kill(getppid(), SIGINT);
#endif
    }
    if (fpip->max_w < fpip->w || fpip->max_h < fpip->h || !fpip->ycp_edit || !fpip->ycp_temp ||
        fpip->ycp_temp == fpip->ycp_edit) {
        return FALSE;
    }
    const bool answerInTemp = fp->check[0] != 0;
    PIXEL_YC* out = answerInTemp ? fpip->ycp_temp : fpip->ycp_edit;
    for (int y = 0; y < fpip->h; ++y) {
        for (int x = 0; x < fpip->w; ++x) {
            const PIXEL_YC& in = fpip->ycp_edit[y * fpip->max_w + x];
            out[y * fpip->max_w + x] = PIXEL_YC{int16_t(in.y + fp->track[0]), int16_t(in.cb + fp->track[2]),
                                                int16_t(in.cr + fp->track[4])};
        }
    }
    if (answerInTemp) std::swap(fpip->ycp_edit, fpip->ycp_temp);
    return TRUE;
}

FILTER_DLL MakeDescriptor() {
    FILTER_DLL descriptor{};
    descriptor.flag = FILTER_FLAG_EX_INFORMATION;
    descriptor.name = "kelo \x83\x65\x83\x58\x83\x67";  // "kelo テスト" in code page 932
    descriptor.track_n = 15;
    descriptor.track_name = kTrackNames;
    descriptor.track_default = kTrackDefaults;
    descriptor.track_s = kTrackMinimums;
    descriptor.track_e = kTrackMaximums;
    descriptor.check_n = 2;
    descriptor.check_name = kCheckNames;
    descriptor.check_default = kCheckDefaults;
    descriptor.func_proc = TestProc;
    descriptor.func_init = TestInit;
    descriptor.func_exit = TestExit;
    descriptor.information = "test double \x8E\x8E\x8C\xB1";  // "試験" in code page 932
    return descriptor;
}

FILTER_DLL g_descriptor = MakeDescriptor();

}  // namespace

extern "C" KELO_EXPORT FILTER_DLL* GetFilterTable() { return &g_descriptor; }
