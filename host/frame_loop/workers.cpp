#include "host/frame_loop/workers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>

#include "host/files/stop_signals.h"
#endif

int JobsFor(int requested, const FrameSource& source, bool onePicture) {
    if (onePicture || !source.y4mInfo()) return 1;
    return requested ? requested : DefaultJobs();
}

#ifdef _WIN32

int DefaultJobs() { return 1; }

PipelineReport RunJobs(FrameSource&, FrameSink&, const FILTER_DLL&, const FilterSettings&, int,
                       const PipelineSettings&) {
    throw std::runtime_error("--jobs above 1 needs processes that share memory; this build runs one plug-in");
}

void PrintJobStats(const PipelineReport&) {}

#else

namespace {

// The cores this process may run on, which a container or taskset may
// hold below the machine's.
int Cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 0 ? int(cores) : 1;
}

// The device the stand-in will take, as it chooses: a graphics card where
// one has a render node, unless the user asks for the processor.
bool SoftwareDevice() {
    const char* choice = std::getenv("KELO_VULKAN_DEVICE");
    if (choice && std::strcmp(choice, "cpu") == 0) return true;
    if (choice && *choice) return false;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error)) {
        if (entry.path().filename().string().rfind("renderD", 0) == 0) return false;
    }
    return true;
}

// Frames both sides of a fork see at the same address: blocks mapped
// shared, before the jobs are forked.
class SharedMemory final : public std::pmr::memory_resource {
    void* do_allocate(size_t bytes, size_t) override {
        void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) throw std::bad_alloc();
        return block;
    }
    void do_deallocate(void* block, size_t bytes, size_t) override { munmap(block, bytes); }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

struct Command {
    PIXEL_YC* pixels;
    int32_t width, height, pitch, frame, frameCount;
};

struct Answer {
    int32_t ok;
    double seconds;
};

bool SendAll(int socket, const void* data, size_t size) {
    while (true) {
        const ssize_t sent = send(socket, data, size, MSG_NOSIGNAL);
        if (sent == ssize_t(size)) return true;
        if (sent < 0 && errno == EINTR) continue;
        return false;
    }
}

// False at the end of the stream or on a short message: the other side is gone.
template <typename Message>
bool Receive(int socket, Message& message) {
    while (true) {
        const ssize_t got = recv(socket, &message, sizeof message, 0);
        if (got == ssize_t(sizeof message)) return true;
        if (got < 0 && errno == EINTR) continue;
        return false;
    }
}

// The job's whole life. It never returns: what the parent set up (its
// output's temporary file, its threads' state) is not the job's to undo.
[[noreturn]] void JobMain(int socket, const FILTER_DLL& descriptor, const FilterSettings& settings, int threads) {
    int status = 0;
    try {
        // Ctrl-C reaches every process of the terminal's group: the parent
        // alone decides when the run stops, and closing the socket says so.
        std::signal(SIGINT, SIG_IGN);
        std::signal(SIGTERM, SIG_IGN);
        // The standard streams may be kelo-host's pipes: a job never reads
        // the input nor writes the output, and must not keep them open for
        // whoever waits at their other ends.
        const int nothing = open("/dev/null", O_RDONLY);
        if (nothing >= 0) dup2(nothing, STDIN_FILENO);
        if (nothing > STDIN_FILENO) close(nothing);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        // lavapipe's rasteriser threads, shared out so that the jobs
        // together use each core once; a user's own choice stands.
        if (threads > 0) setenv("LP_NUM_THREADS", std::to_string(threads).c_str(), 0);
        RunningFilter filter(descriptor, settings);
        const Clock::time_point start = Clock::now();
        const bool ready = filter.Init();
        Answer answer{ready, SecondsSince(start)};
        if (ready && SendAll(socket, &answer, sizeof answer)) {
            std::vector<PIXEL_YC> temp;
            Command command;
            while (Receive(socket, command)) {
                const size_t count = size_t(command.pitch) * size_t(command.height);
                if (temp.size() != count) temp.assign(count, PIXEL_YC{0, 0, 0});
                const Clock::time_point begin = Clock::now();
                PIXEL_YC* result = filter.Process(command.pixels, temp.data(), command.width, command.height,
                                                  command.pitch, command.frame, command.frameCount);
                answer = Answer{result != nullptr, SecondsSince(begin)};
                // The parent reads the shared frame: a plug-in that answered in
                // its second buffer has the answer copied back.
                if (result == temp.data()) std::copy_n(temp.data(), count, command.pixels);
                if (!SendAll(socket, &answer, sizeof answer) || !result) break;
            }
        } else {
            SendAll(socket, &answer, sizeof answer);
        }
        filter.Exit();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelo-host: job: %s\n", error.what());
        status = 1;
    }
    std::fflush(stderr);
    _exit(status);
}

std::string Ended(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return "was ended by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
    }
    return "exited with status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

int DefaultJobs() { return SoftwareDevice() ? std::max(2, Cores() / 2) : 1; }

PipelineReport RunJobs(FrameSource& source, FrameSink& sink, const FILTER_DLL& descriptor,
                       const FilterSettings& filterSettings, int jobs, const PipelineSettings& settings) {
    const Clock::time_point start = Clock::now();
    PipelineReport report;
    report.jobs.resize(size_t(jobs));

    // The first frame is read before anything is allocated for the others,
    // so that a header announcing a huge picture over no data costs no
    // more than with one plug-in; a stream without frames needs no jobs.
    StageTimes readTimes, writeTimes;
    YcFrame first;
    try {
        if (settings.stopRequested()) {
            report.stopped = true;
            return report;
        }
        if (!source.Next(first, settings.rowLength, readTimes)) return report;
    } catch (...) {
        if (IsStop(std::current_exception())) report.stopped = true;
        else report.error = std::current_exception();
        return report;
    }

    // Each job holds one frame and may have the next waiting; the reader
    // and the writer one each. All are sized now, before the fork, and
    // never again.
    static SharedMemory shared;
    const size_t bufferCount = size_t(2 * jobs + 2);
    std::vector<std::unique_ptr<YcFrame>> buffers;
    for (size_t i = 0; i < bufferCount; ++i) {
        buffers.push_back(std::make_unique<YcFrame>(YcFrame{0, 0, 0, std::pmr::vector<PIXEL_YC>(&shared), {}}));
        buffers.back()->Resize(first.width, first.height, first.pitch);
    }
    std::copy(first.pixels.begin(), first.pixels.end(), buffers[0]->pixels.begin());
    buffers[0]->frameParameters = first.frameParameters;

    struct Job {
        pid_t pid = -1;
        int socket = -1;
        int status = 0;
        bool reaped = false;
    };
    std::vector<Job> children(static_cast<size_t>(jobs));
    const int threads = SoftwareDevice() ? std::max(1, Cores() / jobs) : 0;
    for (Job& job : children) {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
            report.error = std::make_exception_ptr(std::runtime_error(std::string("cannot start a job: ") +
                                                                      std::strerror(errno)));
            break;
        }
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            // The job keeps its own end only, so that each one learns of the
            // parent's end by its socket alone.
            for (const Job& other : children) {
                if (other.socket >= 0) close(other.socket);
            }
            close(pair[0]);
            JobMain(pair[1], descriptor, filterSettings, threads);
        }
        close(pair[1]);
        if (pid < 0) {
            close(pair[0]);
            report.error = std::make_exception_ptr(std::runtime_error(std::string("cannot start a job: ") +
                                                                      std::strerror(errno)));
            break;
        }
        job.pid = pid;
        job.socket = pair[0];
    }

    // Every job's end: its socket closed, so it calls FilterExit and exits.
    const auto reapAll = [&] {
        for (Job& job : children) {
            if (job.socket >= 0) close(job.socket);
            job.socket = -1;
        }
        for (size_t k = 0; k < children.size(); ++k) {
            Job& job = children[k];
            if (job.pid < 0 || job.reaped) continue;
            struct rusage usage {};
            while (wait4(job.pid, &job.status, 0, &usage) < 0 && errno == EINTR) {
            }
            job.reaped = true;
            report.jobs[k].processor = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                                       1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
            report.jobs[k].peakMemory = double(usage.ru_maxrss) / 1024;
        }
    };
    // One job's death, in words; reaped at once so that its status is known.
    const auto died = [&](size_t k) {
        Job& job = children[k];
        close(job.socket);
        job.socket = -1;
        while (!job.reaped && waitpid(job.pid, &job.status, 0) < 0 && errno == EINTR) {
        }
        job.reaped = true;
        return "job " + std::to_string(k + 1) + " of " + std::to_string(jobs) + " " + Ended(job.status);
    };

    if (!report.error) {
        for (size_t k = 0; k < children.size(); ++k) {
            Answer answer{};
            if (!Receive(children[k].socket, answer)) {
                report.failure = died(k) + " in FilterInit";
                report.initFailed = true;
            } else if (!answer.ok) {
                report.initFailed = true;
            }
        }
    }
    if (report.error || report.initFailed) {
        reapAll();
        report.wall = SecondsSince(start);
        return report;
    }

    // Which buffer holds which frame, by the stream's frame numbers less the
    // first one's. Frames below `limit` may still be written.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<YcFrame*> unused;
    for (size_t i = 1; i < buffers.size(); ++i) unused.push_back(buffers[i].get());
    std::map<int, YcFrame*> converted{{0, buffers[0].get()}}, filtered;
    int readEnd = INT_MAX;  // the number of frames read, once the reader is done
    int limit = INT_MAX;
    bool halt = false;      // nothing more is read or filtered
    std::vector<bool> jobDone(size_t(jobs), false);
    std::exception_ptr readError, writeError;
    // The copy for --compare; only the first frame's is ever needed.
    YcFrame before;
    if (settings.firstFrameFiltered) before = std::move(first);
    first = YcFrame{};
    // The reader's and the jobs' waits end on their condition or on a stop
    // asked for, looked for at least every 50 ms; the writer's on its
    // condition alone, since the frames in hand are still written.
    const auto wait = [&](std::unique_lock<std::mutex>& lock, auto done, bool stops) {
        while (true) {
            if (stops && settings.stopRequested()) {
                report.stopped = true;
                halt = true;
                changed.notify_all();
                return;
            }
            if (done()) return;
            changed.wait_for(lock, std::chrono::milliseconds(50));
        }
    };

    std::thread reader([&] {
        YieldToThePlugin();
        int read = 1;
        try {
            for (; settings.maxFrames == 0 || read < settings.maxFrames; ++read) {
                YcFrame* frame = nullptr;
                {
                    std::unique_lock lock(mutex);
                    wait(lock, [&] { return halt || !unused.empty(); }, true);
                    if (halt) break;
                    frame = unused.back();
                    unused.pop_back();
                }
                const PIXEL_YC* storage = frame->pixels.data();
                const bool more = source.Next(*frame, settings.rowLength, readTimes);
                if (frame->pixels.data() != storage) throw std::logic_error("a shared frame was reallocated");
                std::lock_guard lock(mutex);
                if (!more) {
                    unused.push_back(frame);
                    break;
                }
                converted[read] = frame;
                changed.notify_all();
            }
        } catch (...) {
            readError = std::current_exception();
        }
        std::lock_guard lock(mutex);
        readEnd = read;
        changed.notify_all();
    });

    std::vector<std::thread> dispatchers;
    for (size_t k = 0; k < children.size(); ++k) {
        dispatchers.emplace_back([&, k] {
            PipelineReport::Job& share = report.jobs[k];
            for (int n = int(k);; n += jobs) {
                YcFrame* frame = nullptr;
                {
                    std::unique_lock lock(mutex);
                    const Clock::time_point waitStart = Clock::now();
                    wait(lock, [&] { return halt || n >= limit || n >= readEnd || converted.count(n); }, true);
                    share.waitForInput += SecondsSince(waitStart);
                    if (halt || n >= limit || !converted.count(n)) break;
                    frame = converted[n];
                    converted.erase(n);
                }
                const int number = source.firstFrame() + n;
                const Command command{frame->pixels.data(), frame->width, frame->height,
                                      frame->pitch,         number,       source.frameCount()};
                Answer answer{};
                const bool answered = SendAll(children[k].socket, &command, sizeof command) &&
                                      Receive(children[k].socket, answer);
                std::lock_guard lock(mutex);
                if (!answered || !answer.ok) {
                    if (n < limit) {
                        limit = n;
                        report.failedFrame = number;
                        report.failure = answered ? "" : died(k) + " on frame " + std::to_string(number);
                    }
                    unused.push_back(frame);
                    changed.notify_all();
                    break;
                }
                share.frames += 1;
                share.filterProc += answer.seconds;
                filtered[n] = frame;
                changed.notify_all();
            }
            std::lock_guard lock(mutex);
            jobDone[k] = true;
            changed.notify_all();
        });
    }

    std::thread writer([&] {
        try {
            for (int n = 0;; ++n) {
                YcFrame* frame = nullptr;
                {
                    std::unique_lock lock(mutex);
                    // Frame n comes unless its job has ended without it.
                    wait(lock, [&] { return filtered.count(n) || jobDone[size_t(n % jobs)]; }, false);
                    if (!filtered.count(n) || n >= limit) break;
                    frame = filtered[n];
                    filtered.erase(n);
                }
                if (n == 0 && settings.firstFrameFiltered) settings.firstFrameFiltered(before, *frame);
                sink.Write(*frame, writeTimes);
                // As in the single frame loop, once the output exists.
                if (report.framesWritten == 0) YieldToThePlugin();
                ++report.framesWritten;
                if (settings.frameWritten) settings.frameWritten(report.framesWritten);
                std::lock_guard lock(mutex);
                unused.push_back(frame);
                changed.notify_all();
            }
        } catch (...) {
            writeError = std::current_exception();
        }
        std::lock_guard lock(mutex);
        halt = true;
        changed.notify_all();
    });

    writer.join();
    for (std::thread& dispatcher : dispatchers) dispatcher.join();
    reader.join();
    reapAll();

    for (const PipelineReport::Job& share : report.jobs) {
        report.busy.seconds[kFilterProc] += share.filterProc;
        report.waitForInput += share.waitForInput;
    }
    for (int stage = 0; stage < kStageCount; ++stage) {
        report.busy.seconds[stage] += readTimes.seconds[stage] + writeTimes.seconds[stage];
    }
    for (std::exception_ptr* error : {&writeError, &readError}) {
        if (!IsStop(*error)) continue;
        report.stopped = true;
        *error = nullptr;
    }
    // A stop asked for by a signal is not a failure of the frames after it.
    if (report.stopped && report.failedFrame < 0) report.failure.clear();
    report.error = writeError ? writeError : readError;
    report.wall = SecondsSince(start);
    return report;
}

void PrintJobStats(const PipelineReport& report) {
    if (report.jobs.empty()) return;
    std::fprintf(stderr, "  %-6s %7s %14s %14s %14s %9s\n", "job", "frames", "FilterProc ms", "waits input s",
                 "processor s", "peak MB");
    for (size_t k = 0; k < report.jobs.size(); ++k) {
        const PipelineReport::Job& job = report.jobs[k];
        std::fprintf(stderr, "  %-6zu %7d %14.2f %14.3f %14.3f %9.0f\n", k + 1, job.frames,
                     job.frames ? 1000 * job.filterProc / job.frames : 0.0, job.waitForInput, job.processor,
                     job.peakMemory);
    }
    // Its own alone: what the system reports for a process that has waited
    // for others is the largest of them all. Shared frames count in both.
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "  reading and writing process: peak %.0f MB\n", double(usage.ru_maxrss) / 1024);
}

#endif
