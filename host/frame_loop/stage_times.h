// The host's own stages, timed for --stats.
#pragma once

#include <chrono>

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

enum Stage { kDecode, kToYc, kFilterProc, kFromYc, kEncode, kStageCount };
inline const char* const kStageNames[kStageCount] = {"decode", "to YC", "FilterProc", "from YC", "encode"};

struct StageTimes {
    double seconds[kStageCount] = {};

    template <typename Work>
    auto Time(Stage stage, Work&& work) {
        struct Stop {
            double& total;
            Clock::time_point start;
            ~Stop() { total += SecondsSince(start); }
        } stop{seconds[stage], Clock::now()};
        return work();
    }
};
