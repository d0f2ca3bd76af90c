// SIGINT and SIGTERM (Ctrl+C on Windows): the user's request to stop.
//
// The first one asks for a stop. A frame in hand is finished; any wait for
// a stream (a pipe with no data yet, a FIFO with nobody at the other end)
// ends at once with Stopped; and no file is replaced from then on. A second
// one ends the process at once, removing any temporary file first where the
// system allows.
#pragma once

#include <exception>
#include <string>

void InstallStopSignals();
// The signal that asked for a stop, or 0.
int StopSignal();
// "SIGINT", "SIGTERM".
std::string SignalName(int signal);

// The run ended because the user asked it to, not because a file was bad.
class Stopped : public std::exception {
public:
    // With `framesDone` of a frame run: "stopped by SIGINT after 2 frames".
    explicit Stopped(int signal, int framesDone = -1)
        : signal_(signal),
          message_("stopped by " + SignalName(signal) +
                   (framesDone < 0 ? ""
                                   : " after " + std::to_string(framesDone) + (framesDone == 1 ? " frame" : " frames"))) {}
    int signal() const { return signal_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    int signal_;
    std::string message_;
};

// True when `error` is a Stopped: a stop that ended a wait for the input or
// the output is no fault of either, and the run stops as it would between
// frames.
bool IsStop(const std::exception_ptr& error);

// Throws Stopped once a stop has been asked for.
void ThrowIfStopped();

#ifndef _WIN32
// Waits until `fd` is ready for `events` (POLLIN, POLLOUT), however long
// that takes; throws Stopped as soon as a stop is asked for, even when the
// signal went to another thread.
void WaitUntilReady(int fd, short events);
// Sleeps up to `milliseconds`, less when a stop is asked for.
void SleepUnlessStopped(int milliseconds);
#endif

// The files a forced stop removes. Returns false when there is no room to
// remember the path (the file is then left behind by a forced stop).
bool RememberTemporaryFile(const std::string& path);
void ForgetTemporaryFile(const std::string& path);
