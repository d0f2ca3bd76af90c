#include "host/files/stop_signals.h"

#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// Temporary files the signal handler removes on a forced stop. Plain
// buffers: the handler may read them at any moment.
constexpr int kTempSlots = 4;
constexpr size_t kTempPathMax = 4096;
char g_tempPaths[kTempSlots][kTempPathMax];
volatile std::sig_atomic_t g_tempInUse[kTempSlots];
volatile std::sig_atomic_t g_stopSignal = 0;

#ifdef _WIN32

// Runs on a thread of its own. The first Ctrl+C asks for a stop; the next
// one is left to the system, which ends the process.
BOOL WINAPI OnConsoleControl(DWORD event) {
    if ((event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) || g_stopSignal != 0) return FALSE;
    g_stopSignal = SIGINT;
    return TRUE;
}

#else

// The signal may land on any thread, so a flag alone would not wake one
// blocked elsewhere: every wait also watches this pipe, which the handler
// makes readable, and which stays readable for good.
int g_wakeRead = -1, g_wakeWrite = -1;

void OnStopSignal(int signal) {
    if (g_stopSignal == 0) {
        const int saved = errno;
        g_stopSignal = signal;
        if (g_wakeWrite >= 0 && write(g_wakeWrite, "", 1) < 0) {
            // The pipe is full only if it was written before; it wakes anyway.
        }
        errno = saved;
        return;
    }
    // A second request does not wait for the frame in hand.
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (g_tempInUse[slot]) unlink(g_tempPaths[slot]);
    }
    _exit(128 + signal);
}

#endif

}  // namespace

void InstallStopSignals() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    int ends[2];
    if (g_wakeRead < 0 && pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_wakeRead = ends[0];
        g_wakeWrite = ends[1];
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Calls that are not kelo-host's own waits carry on where they were;
    // those waits watch the wake pipe instead (WaitUntilReady).
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

int StopSignal() { return g_stopSignal; }

std::string SignalName(int signal) {
    if (signal == SIGINT) return "SIGINT";
    if (signal == SIGTERM) return "SIGTERM";
    return "signal " + std::to_string(signal);
}

void ThrowIfStopped() {
    if (const int signal = g_stopSignal) throw Stopped(signal);
}

#ifndef _WIN32

void WaitUntilReady(int fd, short events) {
    for (;;) {
        ThrowIfStopped();
        pollfd watched[2] = {{fd, events, 0}, {g_wakeRead, POLLIN, 0}};
        const int ready = poll(watched, g_wakeRead >= 0 ? 2 : 1, -1);
        ThrowIfStopped();
        // Errors and hang-ups are the read's or the write's to report.
        if (ready > 0 && watched[0].revents != 0) return;
        if (ready < 0 && errno != EINTR) return;
    }
}

void SleepUnlessStopped(int milliseconds) {
    ThrowIfStopped();
    pollfd watched = {g_wakeRead, POLLIN, 0};
    poll(&watched, g_wakeRead >= 0 ? 1 : 0, milliseconds);
    ThrowIfStopped();
}

#endif

bool RememberTemporaryFile(const std::string& path) {
    if (path.size() >= kTempPathMax) return false;
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (g_tempInUse[slot]) continue;
        std::memcpy(g_tempPaths[slot], path.c_str(), path.size() + 1);
        g_tempInUse[slot] = 1;
        return true;
    }
    return false;
}

void ForgetTemporaryFile(const std::string& path) {
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (g_tempInUse[slot] && path == g_tempPaths[slot]) g_tempInUse[slot] = 0;
    }
}

bool IsStop(const std::exception_ptr& error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const Stopped&) {
        return true;
    } catch (...) {
    }
    return false;
}
