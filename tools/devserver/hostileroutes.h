// SPDX-License-Identifier: MIT
#pragma once

#include "servercontext.h"
#include "wire.h"

#include <atomic>
#include <cstdint>

namespace httplib {
class DataSink;
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace devserver {

// /test/drip, /test/continue, /test/huge and /test/sent: what a hostile server sends to wear
// a client down (replies that never quite stall, endless interim answers, bodies without
// end), for testing a client's time and size limits. No token, not journalled.
class HostileRoutes final
{
public:
    explicit HostileRoutes(ServerContext &context);
    HostileRoutes(const HostileRoutes &) = delete;
    HostileRoutes &operator=(const HostileRoutes &) = delete;

    void install(httplib::Server &server);

private:
    void drip(const httplib::Request &request, httplib::Response &response);
    void interim(const httplib::Request &request, httplib::Response &response);
    void huge(const httplib::Request &request, httplib::Response &response);
    // Starts counting the bytes of a new stream; the counts of the one before are gone.
    void beginStream();
    bool sendCounted(httplib::DataSink &sink, const char *data, size_t size);

    ServerContext &m_context;
    // What the latest /test/drip or /test/huge body wrote, and whether its sending has ended.
    std::atomic<int64_t> m_sent{0};
    std::atomic<bool> m_ended{true};
};

} // namespace devserver
