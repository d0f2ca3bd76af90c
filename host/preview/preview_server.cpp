#include "host/preview/preview_server.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <random>

#include "host/files/byte_stream.h"
#include "host/preview/preview_page.h"
#include "host/preview/preview_tools.h"
#include "host/command_line/settings_file.h"

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

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            json += escape;
        } else {
            json += c;
        }
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
// The library's own limit, beyond which it refuses a body unread.
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

}  // namespace

struct PreviewServer::Impl {
    PreviewInfo info;
    RenderMailbox& mailbox;
    std::string token;
    int port = 0;
    httplib::Server server;
    std::mutex settingsMutex;
    FilterSettings settings;
    uint64_t version = 1;
    ShownPictures shown;
    const YcConverter output;

    Impl(PreviewInfo i, FilterSettings s, RenderMailbox& m, std::string t)
        : info(std::move(i)), mailbox(m), token(std::move(t)), settings(std::move(s)),
          shown(info.width, info.height),
          output(PictureFormat{ColourModel::Rgb, Chroma::k444, info.outputDepth, false}) {}

    std::string State() {
        std::lock_guard lock(settingsMutex);
        return StateJson(info, settings, version);
    }

    // Applies a settings file's text to the shared settings.
    std::optional<Refusal> ChangeSettings(const std::string& text) {
        if (text.size() > kMaxSettingsBody) {
            return Refusal{400, "settings of more than " + std::to_string(kMaxSettingsBody) + " bytes"};
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

    void Picture(const httplib::Request& request, httplib::Response& response) {
        PictureQuery query;
        if (auto refusal = ParsePictureQuery(request.params, info.frames, query)) return Refuse(response, *refusal);
        RenderJob job;
        {
            std::lock_guard lock(settingsMutex);
            job.settings = settings;
            response.set_header("X-Kelo-Version", std::to_string(version));
        }
        job.frame = query.frame;
        job.filtered = query.filtered;
        job.width = query.width < info.width && !query.download ? query.width : 0;
        RenderResult result;
        switch (mailbox.Submit(std::move(job), result)) {
        case RenderMailbox::Outcome::kSuperseded:
            return Refuse(response, {503, "a newer picture was asked for"});
        case RenderMailbox::Outcome::kStopped:
            return Refuse(response, {503, "kelo-host is stopping"});
        case RenderMailbox::Outcome::kDone:
            break;
        }
        if (!result.ok) return Refuse(response, {500, result.error});
        if (query.download) {
            response.set_header("Content-Disposition", "attachment; filename=\"kelo-frame" +
                                                           std::to_string(query.frame) +
                                                           (query.filtered ? "" : "-before") + ".png\"");
        }
        // Where a picture's time went, for the page's status line.
        char timing[128];
        std::snprintf(timing, sizeof timing, "reduce;dur=%.1f, filter;dur=%.1f, encode;dur=%.1f", result.reduceMs,
                      result.filterMs, result.encodeMs);
        response.set_header("Server-Timing", timing);
        // The number the scopes and the probe know this picture by.
        response.set_header("X-Kelo-Picture", std::to_string(shown.Add(result.frame, query.filtered)));
        response.set_header("X-Kelo-Size",
                            std::to_string(result.frame->width) + "x" + std::to_string(result.frame->height));
        response.set_content(result.png, "image/png");
    }

    static void Send(httplib::Response& response, const Answer& answer) {
        response.status = answer.status;
        for (const auto& [name, value] : answer.headers) response.set_header(name, value);
        response.set_content(answer.body, answer.contentType);
    }

    static void Refuse(httplib::Response& response, const Refusal& refusal) {
        response.status = refusal.status;
        response.set_content(refusal.reason + "\n", "text/plain; charset=utf-8");
    }

    void Route() {
        server.set_payload_max_length(kMaxPayload);
        server.set_default_headers({
            {"Cache-Control", "no-store"},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"Content-Security-Policy",
             "default-src 'self'; img-src 'self' blob:; frame-ancestors 'none'; form-action 'none'"},
        });
        // The library's own refusals say why too.
        server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&,
                                                                         httplib::Response& response) {
            if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            const char* reason = response.status == 404   ? "no such page"
                                 : response.status == 413 ? "request too large"
                                 : response.status == 414 ? "address too long"
                                                          : "bad request";
            response.set_content(std::string(reason) + "\n", "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }));
        server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
            const auto given = request.params.find("token");
            const std::string* givenToken = given == request.params.end() ? nullptr : &given->second;
            if (request.params.count("token") > 1) givenToken = nullptr;
            if (auto refusal = CheckAccess(request.get_header_value("Host"), givenToken, token, port)) {
                Refuse(response, *refusal);
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        const auto page = [this](const std::string& name) {
            return [this, name](const httplib::Request&, httplib::Response& response) {
                const EmbeddedFile* file = PageFile(name);
                std::string text(reinterpret_cast<const char*>(file->data), file->size);
                // The page's own links carry the token on.
                for (size_t at; (at = text.find("@TOKEN@")) != std::string::npos;) text.replace(at, 7, token);
                response.set_content(text, ContentType(name));
            };
        };
        server.Get("/", page("index.html"));
        server.Get("/page.css", page("page.css"));
        server.Get("/page.js", page("page.js"));
        server.Get("/api/state", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content(State(), "application/json");
        });
        server.Post("/api/settings", [this](const httplib::Request& request, httplib::Response& response) {
            if (auto refusal = ChangeSettings(request.body)) return Refuse(response, *refusal);
            response.set_content(State(), "application/json");
        });
        server.Get("/api/settings.txt", [this](const httplib::Request&, httplib::Response& response) {
            std::lock_guard lock(settingsMutex);
            response.set_header("Content-Disposition", "attachment; filename=\"kelo-settings.txt\"");
            response.set_content(FormatSettings(info.description, settings), "text/plain; charset=utf-8");
        });
        server.Get("/api/picture", [this](const httplib::Request& request, httplib::Response& response) {
            Picture(request, response);
        });
        server.Get("/api/scopes", [this](const httplib::Request& request, httplib::Response& response) {
            Send(response, ScopesAnswer(request.params, shown));
        });
        server.Get("/api/probe", [this](const httplib::Request& request, httplib::Response& response) {
            Send(response, ProbeAnswer(request.params, shown, output));
        });
        // A change and the picture that shows it in one round trip, for the
        // page's sliders.
        server.Post("/api/picture", [this](const httplib::Request& request, httplib::Response& response) {
            if (auto refusal = ChangeSettings(request.body)) return Refuse(response, *refusal);
            Picture(request, response);
        });
    }
};

PreviewServer::PreviewServer(PreviewInfo info, FilterSettings settings, RenderMailbox& mailbox, std::string token)
    : impl_(std::make_unique<Impl>(std::move(info), std::move(settings), mailbox, std::move(token))) {
    impl_->Route();
}

PreviewServer::~PreviewServer() = default;

int PreviewServer::Bind(int port) {
    // Loopback only: nothing on the network can reach the page.
    const int bound = port ? (impl_->server.bind_to_port("127.0.0.1", port) ? port : -1)
                           : impl_->server.bind_to_any_port("127.0.0.1");
    if (bound <= 0) {
        throw IoError(port ? "cannot listen on 127.0.0.1:" + std::to_string(port) + " (in use?)"
                           : std::string("cannot find a free port on 127.0.0.1"));
    }
    impl_->port = bound;
    return bound;
}

void PreviewServer::Serve() { impl_->server.listen_after_bind(); }

void PreviewServer::Stop() { impl_->server.stop(); }
