#include "relay/routes.h"

#include <boost/json.hpp>

namespace orvane {
namespace {

std::vector<std::string> segmentsOf(std::string_view path)
{
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
        segments.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

std::string_view pathOf(std::string_view target)
{
    return target.substr(0, target.find_first_of("?#"));
}

} // namespace

void Routes::add(http::verb method, std::string pattern, Handler handler)
{
    routes_.push_back(Route{method, segmentsOf(pattern), std::move(handler)});
}

HttpResponse Routes::handle(const HttpRequest &request, const std::string &clientKey,
                            const std::string &clientAddress) const
{
    const std::vector<std::string> segments = segmentsOf(pathOf(request.target()));
    for (const Route &route : routes_) {
        if (route.method != request.method() || route.segments.size() != segments.size())
            continue;
        RouteCall call{request, clientKey, clientAddress, {}};
        bool matches = true;
        for (std::size_t i = 0; i < segments.size() && matches; ++i) {
            if (route.segments[i] == "*" && !segments[i].empty())
                call.captures.push_back(segments[i]);
            else
                matches = route.segments[i] == segments[i];
        }
        if (matches)
            return route.handler(call);
    }
    return messageResponse(http::status::not_found, "There is nothing at this address.");
}

HttpResponse jsonResponse(http::status status, std::string body)
{
    HttpResponse response(status, 11);
    response.set(http::field::content_type, "application/json");
    response.body() = std::move(body);
    return response;
}

HttpResponse messageResponse(http::status status, std::string_view message)
{
    return jsonResponse(status, boost::json::serialize(boost::json::object{{"message", message}}));
}

} // namespace orvane
