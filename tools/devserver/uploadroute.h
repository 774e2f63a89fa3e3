// SPDX-License-Identifier: MIT
#pragma once

#include "servercontext.h"

namespace httplib {
class Server;
class ContentReader;
struct Request;
struct Response;
} // namespace httplib

namespace devserver {

// POST /api/upload (and its /r/ alias): one multipart chunk per request, streamed to disk.
// GET /files/<id>/<name>: a finished upload, streamed back.
class UploadRoute final
{
public:
    explicit UploadRoute(ServerContext &context);
    UploadRoute(const UploadRoute &) = delete;
    UploadRoute &operator=(const UploadRoute &) = delete;

    void install(httplib::Server &server);

private:
    // reader is null for the GET form of the alias, which has no body.
    void handleUpload(bool alias, const httplib::Request &request, httplib::Response &response,
                      const httplib::ContentReader *reader);
    void serveFile(const httplib::Request &request, httplib::Response &response);

    ServerContext &m_context;
};

} // namespace devserver
