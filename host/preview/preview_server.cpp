#include "host/preview/preview_server.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <random>

#include "host/command_line/settings_file.h"
#include "host/files/byte_stream.h"
#include "host/files/utf8_path.h"
#include "host/preview/preview_page.h"
#include "host/preview/preview_tools.h"

RenderMailbox::Outcome RenderMailbox::Submit(RenderJob job, RenderResult& result) {
    std::unique_lock lock(mutex_);
    if (stopped_) return Outcome::kStopped;
    const uint64_t ticket = ++lastTicket_;
    if (pending_) superseded_.insert(pendingTicket_);
    pending_ = std::move(job);
    pendingTicket_ = ticket;
    changed_.notify_all();
    changed_.wait(lock, [&] { return stopped_ || superseded_.count(ticket) || results_.count(ticket); });
    if (superseded_.erase(ticket)) return Outcome::kSuperseded;
    const auto found = results_.find(ticket);
    if (found == results_.end()) return Outcome::kStopped;
    result = std::move(found->second);
    results_.erase(found);
    return Outcome::kDone;
}

bool RenderMailbox::Take(RenderJob& job, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [&] { return stopped_ || pending_.has_value(); });
    if (!pending_) return false;
    job = std::move(*pending_);
    pending_.reset();
    takenTicket_ = pendingTicket_;
    return true;
}

void RenderMailbox::Deliver(RenderResult result) {
    std::lock_guard lock(mutex_);
    results_[takenTicket_] = std::move(result);
    changed_.notify_all();
}

void RenderMailbox::Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    pending_.reset();
    changed_.notify_all();
}

std::string NewToken() {
    std::random_device source;  // /dev/urandom on this system's library
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", unsigned(source()));
        token += digits;
    }
    return token;
}

namespace {

// Takes as long whatever the first difference, so the token cannot be
// found a character at a time by timing.
bool SameToken(std::string_view given, std::string_view token) {
    if (given.size() != token.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < token.size(); ++i) difference |= static_cast<unsigned char>(given[i] ^ token[i]);
    return difference == 0;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<Refusal> CheckAccess(std::string_view hostHeader, const std::string* givenToken,
                                   std::string_view token, int port) {
    const std::string portText = ":" + std::to_string(port);
    const bool hostAllowed = hostHeader.size() > portText.size() &&
                             hostHeader.substr(hostHeader.size() - portText.size()) == portText &&
                             (hostHeader.substr(0, hostHeader.size() - portText.size()) == "127.0.0.1" ||
                              SameIgnoringCase(hostHeader.substr(0, hostHeader.size() - portText.size()), "localhost"));
    if (!hostAllowed) {
        return Refusal{403, "this server answers only as 127.0.0.1" + portText + " or localhost" + portText};
    }
    if (!givenToken || !SameToken(*givenToken, token)) {
        return Refusal{403, "a request needs the token of the URL that kelo-host printed"};
    }
    return std::nullopt;
}

std::optional<Refusal> ParsePictureQuery(const QueryParameters& parameters, int frames, PictureQuery& query) {
    query = PictureQuery{};
    for (const auto& [name, value] : parameters) {
        if (parameters.count(name) > 1) return Refusal{400, "the parameter \"" + name + "\" is given twice"};
        if (name == "token") continue;
        if (name == "frame") {
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), query.frame);
            if (value.empty() || ec != std::errc() || end != value.data() + value.size() || query.frame < 0 ||
                query.frame >= frames) {
                return Refusal{400, "frame=" + value + ": expected a frame number from 0 to " +
                                        std::to_string(frames - 1)};
            }
        } else if (name == "view") {
            if (value != "after" && value != "before") {
                return Refusal{400, "view=" + value + ": expected after or before"};
            }
            query.filtered = value == "after";
        } else if (name == "width") {
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), query.width);
            if (value.empty() || ec != std::errc() || end != value.data() + value.size() || query.width < 1 ||
                query.width > kMaxPictureSide) {
                return Refusal{400, "width=" + value + ": expected a width from 1 to " +
                                        std::to_string(kMaxPictureSide)};
            }
        } else if (name == "download") {
            if (value != "1") return Refusal{400, "download=" + value + ": expected 1"};
            query.download = true;
        } else {
            return Refusal{400, "unknown parameter \"" + name + "\""};
        }
    }
    return std::nullopt;
}

namespace {

// JSON is text: a byte that is no UTF-8 character (a Unix file name may
// hold any) shows as U+FFFD; the command line spells such a name exactly.
std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8CharLength(text.substr(i));
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (!length) {
            json += "\\ufffd";
        } else if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            json += escape;
        } else {
            json.append(text.substr(i, length));
        }
        i += std::max<size_t>(length, 1);
    }
    return json + "\"";
}

template <typename Each>
std::string JsonArray(size_t count, Each each) {
    std::string json = "[";
    for (size_t i = 0; i < count; ++i) json += (i ? "," : "") + each(i);
    return json + "]";
}

}  // namespace

std::string StateJson(const PreviewInfo& info, const FilterSettings& settings, uint64_t version) {
    const FilterDescription& d = info.description;
    const auto number = [](int64_t value) { return std::to_string(value); };
    std::string command = "kelo-host";
    if (!info.pluginArgument.empty()) command += " --plugin " + ShellQuoted(info.pluginArgument);
    if (const std::string sets = SetArguments(d, settings); !sets.empty()) command += " " + sets;
    if (!info.inputName.empty()) {
        const std::string_view name = info.inputName;
        const bool y4m = info.frames > 1 || (name.size() > 4 && SameIgnoringCase(name.substr(name.size() - 4), ".y4m"));
        command += " " + ShellQuoted(info.inputName) + (y4m ? " kelo-out.y4m" : " kelo-out.png");
    }
    return "{\"name\":" + JsonString(d.name) + ",\"information\":" + JsonString(d.information) +
           ",\"tracks\":" + JsonArray(d.tracks.size(), [&](size_t i) {
               const auto& t = d.tracks[i];
               return "{\"name\":" + JsonString(t.name) + ",\"min\":" + number(t.minimum) + ",\"max\":" +
                      number(t.maximum) + ",\"default\":" + number(t.initial) + "}";
           }) +
           ",\"checks\":" + JsonArray(d.checks.size(), [&](size_t i) {
               return "{\"name\":" + JsonString(d.checks[i].name) + ",\"default\":" +
                      number(d.checks[i].initial ? 1 : 0) + "}";
           }) +
           ",\"track\":" + JsonArray(settings.track.size(), [&](size_t i) { return number(settings.track[i]); }) +
           ",\"check\":" + JsonArray(settings.check.size(), [&](size_t i) { return number(settings.check[i]); }) +
           ",\"version\":" + number(int64_t(version)) + ",\"frames\":" + number(info.frames) +
           ",\"width\":" + number(info.width) + ",\"height\":" + number(info.height) +
           ",\"input\":" + JsonString(info.inputName) + ",\"command\":" + JsonString(command) + "}";
}

namespace {

// Settings arrive as a settings file's text; they are a few hundred bytes.
constexpr size_t kMaxSettingsBody = 16 * 1024;
// Beyond this a body is refused unread.
constexpr size_t kMaxPayload = 64 * 1024;

const char* ContentType(std::string_view name) {
    if (name.ends_with(".html")) return "text/html; charset=utf-8";
    if (name.ends_with(".css")) return "text/css; charset=utf-8";
    if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
    return "application/octet-stream";
}

const EmbeddedFile* PageFile(std::string_view name) {
    for (size_t i = 0; i < kPreviewPageFileCount; ++i) {
        if (name == kPreviewPageFiles[i].name) return &kPreviewPageFiles[i];
    }
    return nullptr;
}

HttpResponse Refused(const Refusal& refusal) {
    return HttpResponse{refusal.status, "text/plain; charset=utf-8", refusal.reason + "\n", {}};
}

HttpResponse Sent(const Answer& answer) {
    return HttpResponse{answer.status, answer.contentType, answer.body, {answer.headers.begin(), answer.headers.end()}};
}

HttpResponse Json(std::string json) { return HttpResponse{200, "application/json", std::move(json), {}}; }

const HttpHeaders kCommonHeaders = {
    {"Cache-Control", "no-store"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Content-Security-Policy", "default-src 'self'; img-src 'self' blob:; frame-ancestors 'none'; form-action 'none'"},
};

}  // namespace

struct PreviewServer::Impl {
    PreviewInfo info;
    RenderMailbox& mailbox;
    std::string token;
    int port = 0;
    std::mutex settingsMutex;
    FilterSettings settings;
    uint64_t version = 1;
    // An endpoint: what one method on one path answers, once the request
    // has passed the gate in Handle.
    using Endpoint = std::function<HttpResponse(const HttpRequest&)>;
    std::map<std::string, std::map<std::string, Endpoint>> endpoints;  // by path, then method
    // The pictures the scopes and the probe are asked of, by number.
    ShownPictures shown;
    const YcConverter output;
    HttpServer server;

    Impl(PreviewInfo i, FilterSettings s, RenderMailbox& m, std::string t)
        : info(std::move(i)),
          mailbox(m),
          token(std::move(t)),
          settings(std::move(s)),
          shown(info.width, info.height),
          output(PictureFormat{ColourModel::Rgb, Chroma::k444, info.outputDepth, false}),
          server([this](const HttpRequest& request) { return Handle(request); }, kCommonHeaders, kMaxPayload) {}

    void Add(const std::string& method, const std::string& path, Endpoint endpoint) {
        endpoints[path][method] = std::move(endpoint);
    }

    // Every request, whatever it asks for: the Host and token checks first,
    // so that nobody without the token learns even which paths exist.
    HttpResponse Handle(const HttpRequest& request) {
        const auto given = request.query.find("token");
        const std::string* givenToken =
            given == request.query.end() || request.query.count("token") > 1 ? nullptr : &given->second;
        if (auto refusal = CheckAccess(request.host, givenToken, token, port)) return Refused(*refusal);
        const auto path = endpoints.find(request.path);
        if (path == endpoints.end()) return Refused({404, "no such page"});
        const auto endpoint = path->second.find(request.method);
        if (endpoint == path->second.end()) {
            std::string allowed;
            for (const auto& [method, ignored] : path->second) allowed += (allowed.empty() ? "" : ", ") + method;
            HttpResponse response = Refused({405, request.method + " is not answered here; " + allowed + " is"});
            response.headers.emplace_back("Allow", allowed);
            return response;
        }
        return endpoint->second(request);
    }

    std::string State() {
        std::lock_guard lock(settingsMutex);
        return StateJson(info, settings, version);
    }

    // Applies a settings file's text to the shared settings.
    std::optional<Refusal> ChangeSettings(const std::string& text) {
        if (text.size() > kMaxSettingsBody) {
            return Refusal{413, "settings of more than " + std::to_string(kMaxSettingsBody) + " bytes"};
        }
        std::lock_guard lock(settingsMutex);
        FilterSettings changed = settings;
        try {
            ApplySettingsText(info.description, "settings", text, changed);
        } catch (const SettingError& error) {
            return Refusal{400, error.what()};
        }
        if (changed.track != settings.track || changed.check != settings.check) {
            settings = std::move(changed);
            ++version;
        }
        return std::nullopt;
    }

    HttpResponse Picture(const HttpRequest& request) {
        PictureQuery query;
        if (auto refusal = ParsePictureQuery(request.query, info.frames, query)) return Refused(*refusal);
        RenderJob job;
        HttpResponse response{200, "image/png", "", {}};
        {
            std::lock_guard lock(settingsMutex);
            job.settings = settings;
            response.headers.emplace_back("X-Kelo-Version", std::to_string(version));
        }
        job.frame = query.frame;
        job.filtered = query.filtered;
        job.width = query.width < info.width && !query.download ? query.width : 0;
        RenderResult result;
        switch (mailbox.Submit(std::move(job), result)) {
        case RenderMailbox::Outcome::kSuperseded: return Refused({503, "a newer picture was asked for"});
        case RenderMailbox::Outcome::kStopped: return Refused({503, "kelo-host is stopping"});
        case RenderMailbox::Outcome::kDone: break;
        }
        if (!result.ok) return Refused({500, result.error});
        if (query.download) {
            response.headers.emplace_back("Content-Disposition", "attachment; filename=\"kelo-frame" +
                                                                     std::to_string(query.frame) +
                                                                     (query.filtered ? "" : "-before") + ".png\"");
        }
        // Where a picture's time went, for the page's status line.
        char timing[128];
        std::snprintf(timing, sizeof timing, "reduce;dur=%.1f, filter;dur=%.1f, encode;dur=%.1f", result.reduceMs,
                      result.filterMs, result.encodeMs);
        response.headers.emplace_back("Server-Timing", timing);
        // The number the scopes and the probe know this picture by.
        response.headers.emplace_back("X-Kelo-Picture", std::to_string(shown.Add(result.frame, query.filtered)));
        response.headers.emplace_back("X-Kelo-Size", std::to_string(result.frame->width) + "x" +
                                                         std::to_string(result.frame->height));
        response.body = std::move(result.png);
        return response;
    }

    void Route() {
        const auto page = [this](const std::string& name) {
            return [this, name](const HttpRequest&) {
                const EmbeddedFile* file = PageFile(name);
                std::string text(reinterpret_cast<const char*>(file->data), file->size);
                // The page's own links carry the token on.
                for (size_t at; (at = text.find("@TOKEN@")) != std::string::npos;) text.replace(at, 7, token);
                return HttpResponse{200, ContentType(name), std::move(text), {}};
            };
        };
        Add("GET", "/", page("index.html"));
        Add("GET", "/page.css", page("page.css"));
        Add("GET", "/page.js", page("page.js"));
        Add("GET", "/api/state", [this](const HttpRequest&) { return Json(State()); });
        Add("POST", "/api/settings", [this](const HttpRequest& request) {
            if (auto refusal = ChangeSettings(request.body)) return Refused(*refusal);
            return Json(State());
        });
        Add("GET", "/api/settings.txt", [this](const HttpRequest&) {
            std::lock_guard lock(settingsMutex);
            return HttpResponse{200,
                                "text/plain; charset=utf-8",
                                FormatSettings(info.description, settings),
                                {{"Content-Disposition", "attachment; filename=\"kelo-settings.txt\""}}};
        });
        Add("GET", "/api/picture", [this](const HttpRequest& request) { return Picture(request); });
        Add("GET", "/api/scopes", [this](const HttpRequest& request) { return Sent(ScopesAnswer(request.query, shown)); });
        Add("GET", "/api/probe",
            [this](const HttpRequest& request) { return Sent(ProbeAnswer(request.query, shown, output)); });
        // A change and the picture that shows it in one round trip, for the
        // page's sliders.
        Add("POST", "/api/picture", [this](const HttpRequest& request) {
            if (auto refusal = ChangeSettings(request.body)) return Refused(*refusal);
            return Picture(request);
        });
    }
};

PreviewServer::PreviewServer(PreviewInfo info, FilterSettings settings, RenderMailbox& mailbox, std::string token)
    : impl_(std::make_unique<Impl>(std::move(info), std::move(settings), mailbox, std::move(token))) {
    impl_->Route();
}

PreviewServer::~PreviewServer() = default;

int PreviewServer::Bind(int port) {
    impl_->port = impl_->server.Bind(port);
    return impl_->port;
}

void PreviewServer::Serve() { impl_->server.Serve(); }

void PreviewServer::Stop() { impl_->server.Stop(); }
