// SPDX-License-Identifier: MIT
#pragma once

#include "servercontext.h"

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace devserver {

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
