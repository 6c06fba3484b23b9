#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using HttpFields = std::vector<std::pair<std::string, std::string>>;

// One request as a route sees it, whatever carried it: the connection layer
// has read and checked it whole before a route is called.
struct HttpRequestView {
    std::string_view method;
    std::string_view target; // as sent, query included
    std::string_view path;   // the target without its query
    const HttpFields *fields = nullptr;
    std::string_view body;
    // The caller's address: the peer's own, or the one a trusted proxy forwarded.
    std::string clientAddress;

    // The first value of the header `name` (any case); empty when absent.
    std::string_view header(std::string_view name) const;
};

// A route's answer. The connection layer adds the length, compresses large
// bodies for clients that take gzip, and logs every 5xx with its `cause`.
struct HttpReply {
    int status = 200;
    std::string contentType = "application/json";
    HttpFields headers;
    std::string body;
    std::string cause; // why a 5xx happened; logged, never sent
};

using HttpHandler = std::function<HttpReply(const HttpRequestView &)>;

// The routes by method and exact path.
class HttpRoutes {
public:
    void add(std::string method, std::string path, HttpHandler handler);
    // The answer of the matching route; 404 or 405 as JSON {"msg"} when none matches.
    HttpReply answer(const HttpRequestView &request) const;

private:
    struct Route {
        std::string method;
        std::string path;
        HttpHandler handler;
    };
    std::vector<Route> m_routes;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b);
std::string_view trimmedSpace(std::string_view text);

// {"msg": message} with `status`; a 5xx gets `message` as its cause.
HttpReply jsonMessage(int status, const std::string &message);
// 503 with Retry-After.
HttpReply busyReply(const std::string &cause);
