// SPDX-License-Identifier: MIT
#pragma once

#include "servercontext.h"
#include "wire.h"

#include <functional>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace devserver {

// The platform endpoints a client talks to: settings, token and the form-encoded /api/* calls,
// each also under /r/, the alias that injected redirects point at. Uploads: UploadRoute.
class ApiRoutes final
{
public:
    explicit ApiRoutes(ServerContext &context);
    ApiRoutes(const ApiRoutes &) = delete;
    ApiRoutes &operator=(const ApiRoutes &) = delete;

    void install(httplib::Server &server);

private:
    // body: the form as the route read it (httplib itself refuses forms over 8 KiB, and a
    // status report lists every file of the session).
    void handle(const std::string &endpoint, bool alias, const httplib::Request &request, httplib::Response &response,
                const std::string &body = std::string());
    void handleSettings(const httplib::Request &request, httplib::Response &response);
    void handleToken(const ParamList &params, httplib::Response &response);
    void handleRemoved(httplib::Response &response);
    void handleRefresh(const ParamList &params, httplib::Response &response);
    void handleCheck(const ParamList &params, httplib::Response &response);
    void handleAddVideo(const ParamList &params, httplib::Response &response);
    void handleRemoveFile(const ParamList &params, httplib::Response &response);

    ServerContext &m_context;
};

// Runs the endpoint's injected fault, if any. True when the reply is already decided.
// consumeBody runs before a reply that skips the body, so keep-alive stays in step.
bool applyFault(ServerContext &context, const std::string &endpoint, const httplib::Request &request,
                httplib::Response &response, const std::function<void()> &consumeBody);
bool tokenAccepted(const ServerContext &context, const httplib::Request &request);

// Closes the connection after the headers, so the client sees a network error.
void dropConnection(httplib::Response &response);

// Replies 400 naming the first of names missing from params; false then.
bool requireParams(const ParamList &params, std::initializer_list<const char *> names, httplib::Response &response);

} // namespace devserver
