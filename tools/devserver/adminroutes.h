// SPDX-License-Identifier: MIT
#pragma once

#include "servercontext.h"

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace devserver {

// /admin/*: the journal, its reset, removal marks and run-time configuration with faults.
// Plain JSON replies (no envelope); a bad request gets HTTP 400 with {"ok":false,"error":...}.
class AdminRoutes final
{
public:
    explicit AdminRoutes(ServerContext &context);
    AdminRoutes(const AdminRoutes &) = delete;
    AdminRoutes &operator=(const AdminRoutes &) = delete;

    void install(httplib::Server &server);

private:
    void configure(const httplib::Request &request, httplib::Response &response);
    void remove(const httplib::Request &request, httplib::Response &response);

    ServerContext &m_context;
};

} // namespace devserver
