// The preview's grading tools: the scopes and the pixel probe of the
// pictures the page shows, answered from the frames kelo-host made them of,
// never from the browser's decoded PNG. Each answer is a function of the
// request's parameters, so the HTTP side only routes to it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/picture/picture.h"
#include "host/picture/yc_convert.h"
#include "host/preview/preview_server.h"

// The last pictures sent, by the number the page knows them by. A picture
// is a YC frame at the size it went through the plug-in (a reduced one
// while a track bar is dragged). The newest `keep` of each view are kept,
// since a picture before the filter stays on screen while many after it
// come and go.
class ShownPictures {
public:
    ShownPictures(int fullWidth, int fullHeight, size_t keep = 8) : width_(fullWidth), height_(fullHeight), keep_(keep) {}

    uint64_t Add(std::shared_ptr<const YcFrame> frame, bool filtered = true);
    // Null when it was never sent or is no longer kept.
    std::shared_ptr<const YcFrame> Find(uint64_t id) const;
    int width() const { return width_; }
    int height() const { return height_; }

private:
    const int width_, height_;
    const size_t keep_;
    mutable std::mutex mutex_;
    uint64_t last_ = 0;
    std::deque<std::pair<uint64_t, std::shared_ptr<const YcFrame>>> kept_[2];  // before, after
};

struct Answer {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

// picture=N and view=after|before (the row's title): one row of the scopes
// of that picture, as a PNG; the panels' places in a header.
Answer ScopesAnswer(const QueryParameters& parameters, const ShownPictures& pictures);

// x=X&y=Y on the full frame, with after=N and/or before=N: each picture's
// pixel there, as Y, Cb, Cr and as the R'G'B' codes `output` writes.
Answer ProbeAnswer(const QueryParameters& parameters, const ShownPictures& pictures, const YcConverter& output);
