// SPDX-License-Identifier: MIT
#pragma once

#include "servercontext.h"

#include <functional>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace devserver {

// The same handler for GET and POST of pattern: test routes answer either.
void getAndPost(httplib::Server &server, const std::string &pattern,
                const std::function<void(const httplib::Request &, httplib::Response &)> &handler);

// /test/*: fixed behaviours for HTTP transport tests (statuses, redirects, echo, empty and HTML
// bodies, slow replies). No token, not journalled.
class TestRoutes final
{
public:
    explicit TestRoutes(ServerContext &context);
    TestRoutes(const TestRoutes &) = delete;
    TestRoutes &operator=(const TestRoutes &) = delete;

    void install(httplib::Server &server);

private:
    void status(const httplib::Request &request, httplib::Response &response);
    void redirect(const httplib::Request &request, httplib::Response &response);
    void echo(const httplib::Request &request, httplib::Response &response);
    void stall(const httplib::Request &request, httplib::Response &response);

    ServerContext &m_context;
};

} // namespace devserver
