#include "host/preview/http_server.h"

// The parser's views are the standard's, as everywhere else here.
#define BOOST_BEAST_USE_STD_STRING_VIEW
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <chrono>
#include <optional>

#include "host/files/byte_stream.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// From the first byte a request may take, headers and body, before its
// connection is dropped; it also ends an idle connection between requests,
// as browsers expect of a server (they open another).
constexpr auto kRequestDeadline = std::chrono::seconds(5);
// An answer is read by a browser on the same machine; this only frees the
// connection of one that stopped reading.
constexpr auto kWriteDeadline = std::chrono::seconds(30);
// After a refusal the rest of what the client sent is read and dropped for
// this long, so that closing does not reset the connection before the
// client has read why.
constexpr auto kLinger = std::chrono::seconds(1);
constexpr uint32_t kMaxHeader = 16 * 1024;
// Requests that wait for a picture hold one each.
constexpr int kHandlerThreads = 4;

struct Refusal {
    http::status status;
    std::string reason;
};

// Why the parser stopped, in the words of the answer.
Refusal ParseRefusal(const error_code& error, size_t maxBody) {
    switch (static_cast<http::error>(error.value())) {
    case http::error::body_limit:
        return {http::status::payload_too_large, "a request body of more than " + std::to_string(maxBody) + " bytes"};
    case http::error::header_limit:
    case http::error::buffer_overflow:
        return {http::status::request_header_fields_too_large,
                "request headers of more than " + std::to_string(kMaxHeader) + " bytes"};
    case http::error::bad_content_length:
        return {http::status::bad_request, "a malformed or conflicting Content-Length"};
    case http::error::bad_transfer_encoding:
        return {http::status::bad_request, "a malformed or conflicting Transfer-Encoding"};
    case http::error::bad_field:
        return {http::status::bad_request, "a header line that is not NAME: VALUE"};
    case http::error::bad_value:
        return {http::status::bad_request, "a header value holding a character that is not allowed"};
    case http::error::bad_method:
    case http::error::bad_target:
    case http::error::bad_version:
        return {http::status::bad_request, "a malformed request line"};
    case http::error::bad_line_ending:
        return {http::status::bad_request, "a line not ended by CR LF"};
    default:
        return {http::status::bad_request, "a malformed request (" + error.message() + ")"};
    }
}

bool IsParseError(const error_code& error) {
    return error.category() == http::make_error_code(http::error::bad_field).category() &&
           error != http::error::end_of_stream && error != http::error::partial_message;
}

// What the parser lets through but this server will not read one way only.
std::optional<Refusal> FramingRefusal(const http::request_parser<http::string_body>& parser) {
    const auto& request = parser.get();
    const size_t hosts = request.count(http::field::host);
    if (hosts != 1) {
        return Refusal{http::status::bad_request, hosts ? "a request may carry one Host header, not " +
                                                             std::to_string(hosts)
                                                       : std::string("a request needs a Host header")};
    }
    for (const auto& field : request) {
        for (const char c : field.value()) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
                return Refusal{http::status::bad_request,
                               "the " + std::string(field.name_string()) + " header holds a control character"};
            }
        }
    }
    if (request.count(http::field::transfer_encoding)) {
        return Refusal{http::status::length_required, "a request body needs a Content-Length, not a Transfer-Encoding"};
    }
    if (!parser.content_length() && request.method() == http::verb::post) {
        return Refusal{http::status::length_required, "a POST needs a Content-Length"};
    }
    const auto target = request.target();
    if (target.empty() || target.front() != '/') {
        return Refusal{http::status::bad_request, "the request's path must start with /"};
    }
    return std::nullopt;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Decode(std::string_view text, std::string& decoded) {
    decoded.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0) return false;
            decoded += char(high * 16 + low);
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return true;
}

}  // namespace

bool ParseQuery(const std::string& text, QueryParameters& parameters) {
    parameters.clear();
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('&'), rest.size());
        const std::string_view pair = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (pair.empty()) continue;
        const size_t equals = std::min(pair.find('='), pair.size());
        std::string name, value;
        if (!Decode(pair.substr(0, equals), name) ||
            !Decode(pair.substr(std::min(equals + 1, pair.size())), value)) {
            return false;
        }
        parameters.emplace(std::move(name), std::move(value));
    }
    return true;
}

namespace {

// What every connection shares.
struct Server {
    HttpServer::Handler handler;
    HttpHeaders headers;
    size_t maxBody;
    // Declared first so that it goes last: connections still queued on the
    // workers or the loop close their sockets while the loop exists.
    asio::io_context loop{1};
    tcp::acceptor acceptor{loop};
    asio::steady_timer acceptPause{loop};
    asio::thread_pool workers{kHandlerThreads};

    Server(HttpServer::Handler h, HttpHeaders hs, size_t m)
        : handler(std::move(h)), headers(std::move(hs)), maxBody(m) {}

    void Accept();
};

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, Server& server) : stream_(std::move(socket)), server_(server) {}

    void ReadRequest() {
        parser_.emplace();
        parser_->header_limit(kMaxHeader);
        parser_->body_limit(server_.maxBody);
        stream_.expires_after(kRequestDeadline);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](error_code error, size_t) { self->OnHeader(error); });
    }

private:
    void OnHeader(const error_code& error) {
        if (error) return Fail(error);
        if (auto refusal = FramingRefusal(*parser_)) return Refuse(*refusal);
        if (parser_->is_done()) return Dispatch();
        http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](error_code error, size_t) {
            if (error) return self->Fail(error);
            self->Dispatch();
        });
    }

    void Fail(const error_code& error) {
        // A client that went away or ran out of time gets nothing more.
        if (IsParseError(error)) return Refuse(ParseRefusal(error, server_.maxBody));
        Close();
    }

    void Refuse(const Refusal& refusal) {
        HttpResponse response{int(refusal.status), "text/plain; charset=utf-8", refusal.reason + "\n", {}};
        Write(response, false);
    }

    void Dispatch() {
        auto& message = parser_->get();
        HttpRequest request;
        request.method = std::string(message.method_string());
        const std::string_view target = message.target();
        const size_t question = std::min(target.find('?'), target.size());
        request.path = std::string(target.substr(0, question));
        if (question < target.size() && !ParseQuery(std::string(target.substr(question + 1)), request.query)) {
            return Refuse({http::status::bad_request, "a malformed %-escape in the query"});
        }
        request.host = std::string(message[http::field::host]);
        request.body = std::move(message.body());
        const bool keepAlive = message.keep_alive();
        // The handler may wait; the loop goes on with everyone else.
        stream_.expires_never();
        asio::post(server_.workers, [self = shared_from_this(), request = std::move(request), keepAlive] {
            HttpResponse response;
            try {
                response = self->server_.handler(request);
            } catch (const std::exception& error) {
                response = {500, "text/plain; charset=utf-8", std::string(error.what()) + "\n", {}};
            }
            asio::post(self->stream_.get_executor(), [self, response = std::move(response), keepAlive] {
                // A refused client keeps no connection to try again on.
                self->Write(response, keepAlive && (response.status < 400 || response.status >= 500));
            });
        });
    }

    void Write(const HttpResponse& response, bool keepAlive) {
        auto message = std::make_shared<http::response<http::string_body>>(http::status(response.status), 11);
        for (const auto& [name, value] : server_.headers) message->set(name, value);
        for (const auto& [name, value] : response.headers) message->set(name, value);
        if (!response.contentType.empty()) message->set(http::field::content_type, response.contentType);
        message->body() = response.body;
        message->keep_alive(keepAlive);
        message->prepare_payload();
        stream_.expires_after(kWriteDeadline);
        http::async_write(stream_, *message,
                          [self = shared_from_this(), message, keepAlive](error_code error, size_t) {
                              if (error) return self->Close();
                              if (keepAlive) return self->ReadRequest();
                              self->Linger();
                          });
    }

    // Ends the connection from this side, then drops whatever else arrives
    // until the client closes too or the time is up.
    void Linger() {
        error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(kLinger);
        Drain();
    }

    void Drain() {
        stream_.async_read_some(asio::buffer(discard_), [self = shared_from_this()](error_code error, size_t) {
            if (error) return self->Close();
            self->Drain();
        });
    }

    void Close() {
        error_code ignored;
        stream_.socket().close(ignored);
    }

    beast::tcp_stream stream_;
    Server& server_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    char discard_[4096];
};

void Server::Accept() {
    acceptor.async_accept([this](error_code error, tcp::socket socket) {
        if (!acceptor.is_open()) return;
        if (!error) {
            std::make_shared<Connection>(std::move(socket), *this)->ReadRequest();
            return Accept();
        }
        // Out of descriptors, most likely: try again shortly rather than
        // spin on the same error.
        acceptPause.expires_after(std::chrono::milliseconds(50));
        acceptPause.async_wait([this](error_code) { Accept(); });
    });
}

}  // namespace

struct HttpServer::Impl : Server {
    using Server::Server;
};

HttpServer::HttpServer(Handler handler, HttpHeaders headers, size_t maxBody)
    : impl_(std::make_unique<Impl>(std::move(handler), std::move(headers), maxBody)) {}

HttpServer::~HttpServer() {
    Stop();
    impl_->workers.join();
}

int HttpServer::Bind(int port) {
    const std::string where = port ? "127.0.0.1:" + std::to_string(port) : std::string("a free port on 127.0.0.1");
    // Loopback only: nothing on the network can reach the page. The socket
    // is not opened for sharing (SO_REUSEPORT), so the kernel hands a second
    // listener on the port an error instead of half of the browser's
    // connections; SO_REUSEADDR only lets a new run have the port while the
    // last one's closed connections wait out their time.
    const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port));
    error_code error;
    auto& acceptor = impl_->acceptor;
    if (acceptor.open(endpoint.protocol(), error) ||
        acceptor.set_option(tcp::acceptor::reuse_address(true), error) || acceptor.bind(endpoint, error) ||
        acceptor.listen(asio::socket_base::max_listen_connections, error)) {
        throw IoError("cannot listen on " + where + ": " + error.message());
    }
    const int bound = acceptor.local_endpoint(error).port();
    if (error) throw IoError("cannot listen on " + where + ": " + error.message());
    return bound;
}

void HttpServer::Serve() {
    impl_->Accept();
    impl_->loop.run();
}

void HttpServer::Stop() { impl_->loop.stop(); }
