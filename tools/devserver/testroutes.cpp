// SPDX-License-Identifier: MIT
#include "testroutes.h"

#include "wire.h"

#include <httplib.h>

namespace devserver {

namespace {

constexpr int MaxStallMs = 600000;

Json pairs(const ParamList &params)
{
    Json list = Json::array();
    for (const auto &param : params)
        list.push_back(Json::array({param.first, param.second}));
    return list;
}

} // namespace

void getAndPost(httplib::Server &server, const std::string &pattern,
                const std::function<void(const httplib::Request &, httplib::Response &)> &handler)
{
    server.Get(pattern, handler);
    server.Post(pattern, handler);
}

TestRoutes::TestRoutes(ServerContext &context)
    : m_context(context)
{
}

void TestRoutes::install(httplib::Server &server)
{
    using namespace std::placeholders;
    getAndPost(server, R"(/test/status/(\d+))", std::bind(&TestRoutes::status, this, _1, _2));
    getAndPost(server, "/test/redirect", std::bind(&TestRoutes::redirect, this, _1, _2));
    getAndPost(server, "/test/echo", std::bind(&TestRoutes::echo, this, _1, _2));
    getAndPost(server, "/test/stall", std::bind(&TestRoutes::stall, this, _1, _2));
    server.Get("/test/empty", [](const httplib::Request &, httplib::Response &response) {
        response.status = 200;
        response.set_content("", "text/plain");
    });
    server.Get("/test/html", [](const httplib::Request &, httplib::Response &response) {
        response.status = 200;
        response.set_content("<!DOCTYPE html>\n<html><head><title>nuv-devserver</title></head>"
                             "<body><p>This is not JSON.</p></body></html>\n",
                             "text/html; charset=utf-8");
    });
}

void TestRoutes::status(const httplib::Request &request, httplib::Response &response)
{
    int64_t code = 0;
    if (!parseInt64(request.matches[1], code) || code < 200 || code > 599) {
        replyJson(response, envelope(false, "400", "status must be 200..599"), 400);
        return;
    }
    response.status = int(code);
    if (code != 204 && code != 304)
        response.set_content(toText(envelope(code == 200, std::to_string(code), reasonPhrase(int(code)))), JsonType);
}

void TestRoutes::redirect(const httplib::Request &request, httplib::Response &response)
{
    const ParamList query = queryParams(request);
    const std::string *to = findParam(query, "to");
    const std::string *statusText = findParam(query, "status");
    int64_t status = 302;
    if (!to || to->empty() || (statusText && (!parseInt64(*statusText, status) || status < 300 || status > 399))) {
        replyJson(response, envelope(false, "400", "need to=<path or URL> and status 300..399"), 400);
        return;
    }
    // A bare path becomes an absolute URL on this server: Location should be absolute.
    const std::string location = (*to)[0] == '/' ? m_context.baseUrl(request) + *to : *to;
    response.set_redirect(location, int(status));
    response.set_content("redirect", "text/plain");
}

void TestRoutes::echo(const httplib::Request &request, httplib::Response &response)
{
    const ParamList query = queryParams(request);
    const ParamList form = formParams(request);
    Json headers = Json::object();
    for (const auto &header : request.headers) {
        if (isConnectionPseudoHeader(header.first))
            continue;
        if (headers.contains(header.first))
            headers[header.first] = headers[header.first].get<std::string>() + ", " + header.second;
        else
            headers[header.first] = header.second;
    }
    Json files = Json::array();
    for (const auto &file : request.files) {
        files.push_back(Json{{"name", file.second.name},
                             {"filename", file.second.filename},
                             {"contentType", file.second.content_type},
                             {"size", file.second.content.size()}});
    }
    replyJson(response, Json{{"method", request.method},
                             {"path", request.path},
                             {"target", request.target},
                             {"query", paramsToJson(query)},
                             {"queryList", pairs(query)},
                             {"form", paramsToJson(form)},
                             {"formList", pairs(form)},
                             {"headers", headers},
                             {"files", files},
                             {"body", request.body}});
}

void TestRoutes::stall(const httplib::Request &request, httplib::Response &response)
{
    const ParamList query = queryParams(request);
    const std::string *msText = findParam(query, "ms");
    int64_t ms = 0;
    if (!msText || !parseInt64(*msText, ms) || ms < 0 || ms > MaxStallMs) {
        replyJson(response, envelope(false, "400", "need ms=0..600000"), 400);
        return;
    }
    m_context.shutdown.waitFor(int(ms));
    response.status = 200;
    response.set_content("{}", JsonType);
}

} // namespace devserver
