// How kelo-host's run ends, as its exit status says it to the shell.
#pragma once

constexpr int kDone = 0;
constexpr int kUsageOrIoFailure = 1;
constexpr int kPluginFailure = 2;
// A stop asked for by a signal ends with 128 + the signal.

// Reports the exception in flight on standard error; returns the exit status
// it means. Call it only inside a catch block.
int ReportFailure();
