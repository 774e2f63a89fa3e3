// SPDX-License-Identifier: MIT
#include "hostileroutes.h"

#include "quickack.h"
#include "testroutes.h"

#include <algorithm>
#include <httplib.h>
#include <string>
#include <sys/socket.h>

namespace devserver {

namespace {

constexpr int64_t MaxWaitMs = 60000;
constexpr size_t Block = 64 * 1024;

// The parameter's value within [min, max], the fallback when it is absent; false when bad.
bool rangeParam(const ParamList &query, const char *name, int64_t min, int64_t max, int64_t fallback, int64_t &value)
{
    const std::string *text = findParam(query, name);
    value = fallback;
    return !text || (parseInt64(*text, value) && value >= min && value <= max);
}

} // namespace

HostileRoutes::HostileRoutes(ServerContext &context)
    : m_context(context)
{
}

void HostileRoutes::install(httplib::Server &server)
{
    using namespace std::placeholders;
    getAndPost(server, "/test/drip", std::bind(&HostileRoutes::drip, this, _1, _2));
    getAndPost(server, "/test/continue", std::bind(&HostileRoutes::interim, this, _1, _2));
    getAndPost(server, "/test/huge", std::bind(&HostileRoutes::huge, this, _1, _2));
    server.Get("/test/sent", [this](const httplib::Request &, httplib::Response &response) {
        replyJson(response, Json{{"bytes", m_sent.load()}, {"ended", m_ended.load()}});
    });
}

void HostileRoutes::beginStream()
{
    m_sent = 0;
    m_ended = false;
}

bool HostileRoutes::sendCounted(httplib::DataSink &sink, const char *data, size_t size)
{
    if (!sink.write(data, size))
        return false;
    m_sent += int64_t(size);
    return true;
}

void HostileRoutes::drip(const httplib::Request &request, httplib::Response &response)
{
    const ParamList query = queryParams(request);
    int64_t bytes = 0;
    int64_t ms = 0;
    if (!rangeParam(query, "bytes", 1, 1000000, 100, bytes) || !rangeParam(query, "ms", 0, MaxWaitMs, 1000, ms)) {
        replyJson(response, envelope(false, "400", "need bytes=1..1000000 and ms=0..60000"), 400);
        return;
    }
    beginStream();
    response.status = 200;
    // One byte at a time: never quiet for long, never done.
    response.set_content_provider(
        size_t(bytes), JsonType,
        [this, ms](size_t offset, size_t, httplib::DataSink &sink) {
            if (offset > 0 && !m_context.shutdown.waitFor(int(ms)))
                return false;
            return sendCounted(sink, " ", 1);
        },
        [this](bool) { m_ended = true; });
}

void HostileRoutes::interim(const httplib::Request &request, httplib::Response &response)
{
    const ParamList query = queryParams(request);
    int64_t count = 0;
    int64_t ms = 0;
    if (!rangeParam(query, "count", 0, 100000, 10, count) || !rangeParam(query, "ms", 0, MaxWaitMs, 100, ms)) {
        replyJson(response, envelope(false, "400", "need count=0..100000 and ms=0..60000"), 400);
        return;
    }
    // httplib writes no interim answers of its own accord: they go straight onto the socket.
    const int fd = m_context.scheme == "http" ? connectionSocket(request) : -1;
    if (fd < 0) {
        replyJson(response, envelope(false, "400", "interim answers need a plain http connection"), 400);
        return;
    }
    static const std::string line = "HTTP/1.1 100 Continue\r\n\r\n";
    for (int64_t i = 0; i < count; ++i) {
        if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())
            || (i + 1 < count && !m_context.shutdown.waitFor(int(ms))))
            return;
    }
    replyData(response, "ok");
}

void HostileRoutes::huge(const httplib::Request &request, httplib::Response &response)
{
    const ParamList query = queryParams(request);
    int64_t bytes = 0;
    int64_t announce = 0;
    const std::string *framingText = findParam(query, "framing");
    const std::string framing = framingText ? *framingText : "length";
    constexpr int64_t MaxBytes = int64_t(1) << 40;
    if (!rangeParam(query, "bytes", 0, MaxBytes, 0, bytes)
        || !rangeParam(query, "announce", 0, MaxBytes, bytes, announce) || announce < bytes
        || (framing != "length" && framing != "chunked" && framing != "close")) {
        replyJson(response, envelope(false, "400", "need bytes=0..2^40, announce>=bytes, framing=length|chunked|close"),
                  400);
        return;
    }
    beginStream();
    response.status = 200;
    const auto released = [this](bool) { m_ended = true; };
    const std::string block(Block, 'x');
    if (framing == "length") {
        // An announce beyond bytes: the server "dies" after bytes, never sending the rest.
        response.set_content_provider(
            size_t(announce), JsonType,
            [this, bytes, block](size_t offset, size_t, httplib::DataSink &sink) {
                if (int64_t(offset) >= bytes)
                    return false;
                return sendCounted(sink, block.data(),
                                   size_t(std::min<int64_t>(int64_t(Block), bytes - int64_t(offset))));
            },
            released);
        return;
    }
    // httplib keeps a connection open after a body without length: the end is made here.
    const int fd = framing == "close" ? connectionSocket(request) : -1;
    const auto provider = [this, bytes, block, fd](size_t offset, httplib::DataSink &sink) {
        if (int64_t(offset) >= bytes) {
            if (fd >= 0)
                ::shutdown(fd, SHUT_RDWR);
            sink.done();
            return true;
        }
        return sendCounted(sink, block.data(), size_t(std::min<int64_t>(int64_t(Block), bytes - int64_t(offset))));
    };
    if (framing == "chunked") {
        response.set_chunked_content_provider(JsonType, provider, released);
        return;
    }
    if (fd < 0) {
        replyJson(response, envelope(false, "400", "framing=close needs a plain http connection"), 400);
        return;
    }
    response.set_header("Connection", "close");
    response.set_content_provider(JsonType, provider, released);
}

} // namespace devserver
