// The preview's HTTP/1.1 server on 127.0.0.1: one event loop for every
// connection, so a client that trickles or idles costs nobody else, and a
// strict reading of requests, so no two parts of the program can read one
// request two ways. What a request means is left to one handler function.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using QueryParameters = std::multimap<std::string, std::string>;
using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;  // as sent: "GET", "POST", ...
    std::string path;    // the target before any '?', as sent
    QueryParameters query;  // decoded
    std::string host;    // the one Host header
    std::string body;
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    HttpHeaders headers;  // besides Content-Type and the server's own
};

class HttpServer {
public:
    // Called on a worker thread, never on the loop, so it may wait (for a
    // picture); a few run at once.
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // `headers` go on every answer, the server's own refusals included;
    // a body longer than `maxBody` is refused before it is read.
    HttpServer(Handler handler, HttpHeaders headers, size_t maxBody);
    ~HttpServer();

    // Listens on 127.0.0.1 at `port` (0: a free one), sharing it with no
    // other socket; returns the port. Throws IoError with the system's
    // reason when the port cannot be had.
    int Bind(int port);
    // Answers requests until Stop; run it on its own thread.
    void Serve();
    // Any thread: ends Serve at once, dropping every connection.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "a=1&b=%20x+y" as name and value pairs; false on a malformed %-escape.
bool ParseQuery(const std::string& text, QueryParameters& parameters);
