// The HTTP side of kelo-host --preview: the page, the shared settings, and
// the checks every request passes. The plug-in is never called from here:
// pictures are asked of the main thread through a RenderMailbox.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "host/filter/filter_plugin.h"
#include "host/picture/picture.h"
#include "host/preview/http_server.h"

// One picture wanted of the main thread.
struct RenderJob {
    FilterSettings settings;
    int frame = 0;
    bool filtered = true;  // false: the frame as it comes in
    int width = 0;         // less than the frame's: a reduced picture this wide
};

struct RenderResult {
    bool ok = false;
    std::string png;    // when ok
    std::string error;  // otherwise
    std::shared_ptr<const YcFrame> frame;  // the picture on the YC scale, when ok
    double reduceMs = 0, filterMs = 0, encodeMs = 0;
};

// One slot: a job not yet taken is replaced by a newer one, so a dragged
// slider never builds a queue of frames nobody will look at.
class RenderMailbox {
public:
    enum class Outcome { kDone, kSuperseded, kStopped };

    // Any thread: waits for the job's picture.
    Outcome Submit(RenderJob job, RenderResult& result);
    // The main thread: the newest job, waiting up to `wait` for one.
    bool Take(RenderJob& job, std::chrono::milliseconds wait);
    // The main thread: the picture of the job last taken.
    void Deliver(RenderResult result);
    // Releases every waiter; later submissions return kStopped at once.
    void Stop();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<RenderJob> pending_;
    uint64_t pendingTicket_ = 0, takenTicket_ = 0, lastTicket_ = 0;
    std::set<uint64_t> superseded_;
    std::map<uint64_t, RenderResult> results_;
    bool stopped_ = false;
};

// What the page shows besides the picture.
struct PreviewInfo {
    FilterDescription description;
    std::string inputName;       // empty: the built-in chart
    std::string pluginArgument;  // empty: the default plug-in
    int frames = 1;
    int width = 0, height = 0;
    int outputDepth = 8;  // of the pictures' R'G'B' codes
};

// 32 hexadecimal digits from the system's random source.
std::string NewToken();

// The answer to a request that may not go further: 403 or 400, and why.
struct Refusal {
    int status;
    std::string reason;
};
// A request must name this server by its loopback address or localhost and
// its port (a page on another name that resolves here must not read it),
// and carry the token.
std::optional<Refusal> CheckAccess(std::string_view hostHeader, const std::string* givenToken,
                                   std::string_view token, int port);

struct PictureQuery {
    int frame = 0;
    bool filtered = true;
    bool download = false;
    int width = 0;  // 0: the full frame
};
// frame=N (0 .. frames - 1), view=after|before, download=1, width=W (a
// reduced picture, 1 .. 16384; the full one from the frame's width up);
// anything else is refused with 400.
std::optional<Refusal> ParsePictureQuery(const QueryParameters& parameters, int frames, PictureQuery& query);

// The page's view of the filter and the shared settings.
std::string StateJson(const PreviewInfo& info, const FilterSettings& settings, uint64_t version);

class PreviewServer {
public:
    PreviewServer(PreviewInfo info, FilterSettings settings, RenderMailbox& mailbox, std::string token);
    ~PreviewServer();

    // Binds 127.0.0.1 at `port` (0: a free one); returns the port. Throws
    // IoError when the port cannot be had.
    int Bind(int port);
    // Answers requests until Stop; run it on its own thread.
    void Serve();
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
