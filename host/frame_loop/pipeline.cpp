#include "host/frame_loop/pipeline.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "host/files/stop_signals.h"

namespace {

// Frames in flight: one being read, one waiting for FilterProc, one in
// FilterProc, one waiting for the writer and one being written. Fewer would
// leave a stage idle whenever its neighbour is a little late.
constexpr size_t kFrameBuffers = 5;

// A bounded hand-over between two threads. Closing it wakes both sides:
// Push then refuses, Pop still hands out what was queued.
template <typename Item>
class Channel {
public:
    explicit Channel(size_t capacity) : capacity_(capacity) {}

    bool Push(Item&& item) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return closed_ || items_.size() < capacity_; });
        if (closed_) return false;
        items_.push_back(std::move(item));
        changed_.notify_all();
        return true;
    }

    bool Pop(Item& item) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return closed_ || !items_.empty(); });
        if (items_.empty()) return false;
        item = std::move(items_.front());
        items_.pop_front();
        changed_.notify_all();
        return true;
    }

    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> items_;
    size_t capacity_;
    bool closed_ = false;
};

template <typename Wait>
bool Waited(double& total, Wait&& wait) {
    const Clock::time_point start = Clock::now();
    const bool result = wait();
    total += SecondsSince(start);
    return result;
}

}  // namespace

void YieldToThePlugin() {
#ifndef _WIN32
    // On a software device the plug-in's passes run on rasteriser threads
    // that wait for each other at every pass: a host thread that takes a
    // core from one of them stalls them all. Ten steps of niceness let the
    // host's stages run where the passes leave a core free (the uploads and
    // read-backs), and still get a share when the device never does.
    constexpr int kStepsBelow = 10;
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, id_t(gettid()));
    if (errno == 0) setpriority(PRIO_PROCESS, id_t(gettid()), std::min(now + kStepsBelow, 19));
#endif
}

PipelineReport RunPipeline(FrameSource& source, FrameSink& sink, RunningFilter& filter,
                           const PipelineSettings& settings) {
    const Clock::time_point start = Clock::now();
    PipelineReport report;
    // Capacity 1 between stages, so that FilterProc's waits show which side
    // holds it back; the pool bounds the frames in flight.
    Channel<YcFrame> unused(kFrameBuffers), converted(1), filtered(1);
    for (size_t i = 0; i < kFrameBuffers; ++i) unused.Push(YcFrame{});
    StageTimes readTimes, writeTimes;
    std::exception_ptr readError, writeError, filterError;

    std::thread reader([&] {
        YieldToThePlugin();
        try {
            YcFrame frame;
            for (int n = 0; settings.maxFrames == 0 || n < settings.maxFrames; ++n) {
                if (settings.stopRequested() || !unused.Pop(frame) ||
                    !source.Next(frame, settings.rowLength, readTimes) || !converted.Push(std::move(frame))) {
                    break;
                }
            }
        } catch (...) {
            readError = std::current_exception();
        }
        converted.Close();
    });

    std::thread writer([&] {
        try {
            YcFrame frame;
            while (filtered.Pop(frame)) {
                sink.Write(frame, writeTimes);
                // Only once the output exists: a stop that cannot wait finds
                // its temporary file where it looks for it, not half made.
                if (report.framesWritten == 0) YieldToThePlugin();
                ++report.framesWritten;
                if (settings.frameWritten) settings.frameWritten(report.framesWritten);
                unused.Push(std::move(frame));
            }
        } catch (...) {
            writeError = std::current_exception();
        }
        // An output that failed stops the other two: nothing more can reach it.
        filtered.Close();
        unused.Close();
    });

    try {
        YcFrame frame, temp, before;
        for (int index = 0;; ++index) {
            if (settings.stopRequested()) {
                report.stopped = true;
                break;
            }
            if (!Waited(report.waitForInput, [&] { return converted.Pop(frame); })) break;
            if (temp.pixels.size() != frame.pixels.size()) temp.Resize(frame.width, frame.height, frame.pitch);
            const bool compare = settings.firstFrameFiltered && index == 0;
            const int number = source.firstFrame() + index;
            if (compare) before = frame;
            if (!report.busy.Time(kFilterProc,
                                  [&] { return filter.Process(frame, temp, number, source.frameCount()); })) {
                report.failedFrame = number;
                break;
            }
            if (compare) settings.firstFrameFiltered(before, frame);
            if (!Waited(report.waitForOutput, [&] { return filtered.Push(std::move(frame)); })) break;
        }
    } catch (...) {
        filterError = std::current_exception();
    }
    // The writer still takes every frame already filtered; the reader stops.
    filtered.Close();
    converted.Close();
    unused.Close();
    reader.join();
    writer.join();

    for (int stage = 0; stage < kStageCount; ++stage) {
        report.busy.seconds[stage] += readTimes.seconds[stage] + writeTimes.seconds[stage];
    }
    for (std::exception_ptr* error : {&writeError, &filterError, &readError}) {
        if (!IsStop(*error)) continue;
        report.stopped = true;
        *error = nullptr;
    }
    report.error = writeError ? writeError : filterError ? filterError : readError;
    report.wall = SecondsSince(start);
    return report;
}
