// The frame loop. FilterProc runs on the calling thread, which called
// FilterInit and will call FilterExit, one frame at a time and in order, as
// in the editor; meanwhile one thread reads and converts the next frame and
// another converts and writes the previous one. A fixed number of frame
// buffers circulates between the three, so memory stays flat whatever the
// length of the input.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "host/filter/filter_plugin.h"
#include "host/frame_loop/frame_files.h"
#include "host/frame_loop/stage_times.h"

struct PipelineSettings {
    int rowLength = 0;
    // 0: every frame of the input.
    int maxFrames = 0;
    // Asked between frames; true ends the run there, and the frames already
    // filtered are still written.
    std::function<bool()> stopRequested = [] { return false; };
    // When set, called on FilterProc's thread with the first frame before
    // and after the filter.
    std::function<void(const YcFrame& before, const YcFrame& after)> firstFrameFiltered;
    // Called on the writing thread after each written frame.
    std::function<void(int framesWritten)> frameWritten;
};

struct PipelineReport {
    int framesWritten = 0;
    // The stream's number of the frame whose FilterProc returned false, or -1.
    int failedFrame = -1;
    // A stop between frames, or one that ended a wait for the input or the
    // output.
    bool stopped = false;
    // With jobs: a FilterInit returned false (no frame was read), and why a
    // job ended the run when it was not FilterProc's answer (a job that
    // died); frames from failedFrame on are not written.
    bool initFailed = false;
    std::string failure;
    // The first input or output error, raised once every thread has ended.
    std::exception_ptr error;

    StageTimes busy;
    double waitForInput = 0;   // FilterProc's thread waiting for a converted frame
    double waitForOutput = 0;  // ... for the writer to take a filtered one
    double wall = 0;

    // With jobs, each one's share; the busy and wait times above are their
    // sums.
    struct Job {
        int frames = 0;
        double filterProc = 0;  // FilterProc inside the job
        double waitForInput = 0;
        double processor = 0;   // the job's processor time, its device's threads included
        double peakMemory = 0;  // MB
    };
    std::vector<Job> jobs;
};

PipelineReport RunPipeline(FrameSource& source, FrameSink& sink, RunningFilter& filter,
                           const PipelineSettings& settings);

// Called on the host's own threads beside FilterProc (reading, converting,
// writing), so that they give way to the plug-in's device threads.
void YieldToThePlugin();
