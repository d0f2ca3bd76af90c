#include "host/preview/preview_tools.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>

#include "host/picture/png_io.h"
#include "host/scopes/scope_drawing.h"
#include "host/scopes/scopes.h"

uint64_t ShownPictures::Add(std::shared_ptr<const YcFrame> frame, bool filtered) {
    std::lock_guard lock(mutex_);
    auto& kept = kept_[filtered ? 1 : 0];
    kept.emplace_back(++last_, std::move(frame));
    while (kept.size() > keep_) kept.pop_front();
    return last_;
}

std::shared_ptr<const YcFrame> ShownPictures::Find(uint64_t id) const {
    std::lock_guard lock(mutex_);
    for (const auto& view : kept_) {
        for (const auto& [kept, frame] : view) {
            if (kept == id) return frame;
        }
    }
    return nullptr;
}

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Answer Refused(int status, const std::string& reason) {
    return Answer{status, "text/plain; charset=utf-8", reason + "\n", {}};
}

// The named parameters, each at most once and a whole number in its range;
// any other parameter but the token is refused.
struct Wanted {
    const char* name;
    int64_t minimum, maximum;
    bool required;
};

std::optional<Answer> ReadParameters(const QueryParameters& parameters, std::initializer_list<Wanted> wanted,
                                     std::map<std::string, int64_t>& values) {
    for (const auto& [name, value] : parameters) {
        if (parameters.count(name) > 1) return Refused(400, "the parameter \"" + name + "\" is given twice");
        if (name == "token") continue;
        const Wanted* w = nullptr;
        for (const Wanted& candidate : wanted) {
            if (name == candidate.name) w = &candidate;
        }
        if (!w) return Refused(400, "unknown parameter \"" + name + "\"");
        int64_t number = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
        if (value.empty() || ec != std::errc() || end != value.data() + value.size() || number < w->minimum ||
            number > w->maximum) {
            return Refused(400, name + "=" + value + ": expected a whole number from " + std::to_string(w->minimum) +
                                    " to " + std::to_string(w->maximum));
        }
        values[name] = number;
    }
    for (const Wanted& w : wanted) {
        if (w.required && !values.count(w.name)) return Refused(400, std::string("the parameter \"") + w.name + "\" is missing");
    }
    return std::nullopt;
}

Answer NotKept(int64_t id) {
    return Refused(410, "picture " + std::to_string(id) + " is no longer kept; ask for a newer one");
}

}  // namespace

Answer ScopesAnswer(const QueryParameters& parameters, const ShownPictures& pictures) {
    // view=after|before names the row, as the page shows both in a split.
    std::string title;
    QueryParameters numbers = parameters;
    if (const auto view = numbers.find("view"); view != numbers.end()) {
        if (view->second != "after" && view->second != "before") {
            return Refused(400, "view=" + view->second + ": expected after or before");
        }
        title = view->second == "after" ? "AFTER" : "BEFORE";
        numbers.erase(view);
    }
    std::map<std::string, int64_t> values;
    if (auto refusal = ReadParameters(numbers, {{"picture", 1, INT64_MAX, true}}, values)) return *refusal;
    const std::shared_ptr<const YcFrame> frame = pictures.Find(uint64_t(values["picture"]));
    if (!frame) return NotKept(values["picture"]);
    const Clock::time_point start = Clock::now();
    const ScopeCounts counts = CountScopes(*frame);
    const double countMs = MillisecondsSince(start);
    const Clock::time_point drawStart = Clock::now();
    const Picture drawn = DrawScopes({{title, &counts}});
    const double drawMs = MillisecondsSince(drawStart);
    const Clock::time_point encodeStart = Clock::now();
    Answer answer{200, "image/png", EncodePng(drawn, PngPacking::kStored), {}};
    char timing[96];
    std::snprintf(timing, sizeof timing, "count;dur=%.2f, draw;dur=%.2f, encode;dur=%.2f", countMs, drawMs,
                  MillisecondsSince(encodeStart));
    answer.headers = {{"Server-Timing", timing},
                      {"X-Kelo-Scope-Panels", ScopePanelList()},
                      {"X-Kelo-Size", std::to_string(frame->width) + "x" + std::to_string(frame->height)}};
    return answer;
}

Answer ProbeAnswer(const QueryParameters& parameters, const ShownPictures& pictures, const YcConverter& output) {
    std::map<std::string, int64_t> values;
    if (auto refusal = ReadParameters(parameters,
                                      {{"x", 0, pictures.width() - 1, true},
                                       {"y", 0, pictures.height() - 1, true},
                                       {"after", 1, INT64_MAX, false},
                                       {"before", 1, INT64_MAX, false}},
                                      values)) {
        return *refusal;
    }
    if (!values.count("after") && !values.count("before")) {
        return Refused(400, "the probe needs after=N or before=N, the pictures shown");
    }
    const int x = int(values["x"]), y = int(values["y"]);
    std::string json = "{\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y);
    for (const char* which : {"after", "before"}) {
        if (!values.count(which)) continue;
        const std::shared_ptr<const YcFrame> frame = pictures.Find(uint64_t(values[which]));
        if (!frame) return NotKept(values[which]);
        // A reduced picture's pixel covering the same place of the frame.
        const int px = int(int64_t(x) * frame->width / pictures.width());
        const int py = int(int64_t(y) * frame->height / pictures.height());
        YcFrame one;
        one.Resize(1, 1, 1);
        one.Row(0)[0] = frame->Row(py)[px];
        Picture codes;
        output.FromYc(one, codes);
        const auto code = [&](int c) {
            return std::to_string(codes.format.depth > 8 ? codes.samples16[size_t(c)] : codes.samples8[size_t(c)]);
        };
        const PIXEL_YC& yc = one.Row(0)[0];
        json += std::string(",\"") + which + "\":{\"width\":" + std::to_string(frame->width) +
                ",\"height\":" + std::to_string(frame->height) + ",\"px\":" + std::to_string(px) +
                ",\"py\":" + std::to_string(py) + ",\"Y\":" + std::to_string(yc.y) + ",\"Cb\":" +
                std::to_string(yc.cb) + ",\"Cr\":" + std::to_string(yc.cr) + ",\"rgb\":[" + code(0) + "," +
                code(1) + "," + code(2) + "],\"bits\":" + std::to_string(codes.format.depth) + "}";
    }
    return Answer{200, "application/json", json + "}", {}};
}
