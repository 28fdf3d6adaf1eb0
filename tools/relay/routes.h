#pragma once

#include <boost/beast/http.hpp>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

namespace http = boost::beast::http;
using HttpRequest = http::request<http::string_body>;
using HttpResponse = http::response<http::string_body>;

// What a route sees of a request: the request itself, the client it comes from (behind a
// trusted proxy, the one the proxy named) and the path segments that matched the pattern's "*".
struct RouteCall {
    const HttpRequest &request;
    std::string clientKey;
    std::string clientAddress;
    std::vector<std::string> captures;
};

// The relay's HTTP endpoints as a table of method and path pattern. A pattern's "*" stands for
// one whole, non-empty path segment. What matches nothing is answered 404.
class Routes {
public:
    using Handler = std::function<HttpResponse(const RouteCall &)>;

    void add(http::verb method, std::string pattern, Handler handler);
    HttpResponse handle(const HttpRequest &request, const std::string &clientKey,
                        const std::string &clientAddress) const;

private:
    struct Route {
        http::verb method;
        std::vector<std::string> segments;
        Handler handler;
    };
    std::vector<Route> routes_;
};

// A JSON answer, and a JSON {"message": …} refusal.
HttpResponse jsonResponse(http::status status, std::string body);
HttpResponse messageResponse(http::status status, std::string_view message);

} // namespace orvane
