// Several plug-ins at once. The plug-in's globals allow one instance per
// process, so each job is a process of its own, forked before any thread
// starts: it loads nothing new (the library is already mapped), calls
// FilterInit once, FilterProc on its share of the frames in increasing
// order, and FilterExit once, as an editor does. This process reads,
// converts and writes, as in the single frame loop; the frames travel in
// memory both sides share, only their numbers through a socket.
#pragma once

#include "host/filter/filter_plugin.h"
#include "host/frame_loop/frame_files.h"
#include "host/frame_loop/pipeline.h"

// The number of jobs that serves a run which does not ask for one: 1 on a
// graphics card; on a software device, one per pair of cores and at least
// two, since one plug-in cannot keep the cores busy.
int DefaultJobs();

// The jobs a run really uses: one for a single picture (a PNG or the
// chart, or a PNG output), otherwise `requested`, or DefaultJobs() for 0.
int JobsFor(int requested, const FrameSource& source, bool onePicture);

// Like RunPipeline with `jobs` plug-ins: frame n goes to job n % jobs, the
// results are written in order. FilterInit and FilterExit run in the jobs;
// a FilterInit that fails sets initFailed before any frame is read. A job
// that dies ends the run like a FilterProc that returned false, with the
// reason in `failure`. Every job has ended when this returns.
PipelineReport RunJobs(FrameSource& source, FrameSink& sink, const FILTER_DLL& descriptor,
                       const FilterSettings& filterSettings, int jobs, const PipelineSettings& settings);

// --stats' lines for each job, on standard error; nothing without jobs.
void PrintJobStats(const PipelineReport& report);
