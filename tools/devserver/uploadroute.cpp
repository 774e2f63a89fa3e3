// SPDX-License-Identifier: MIT
#include "uploadroute.h"

#include "apiroutes.h"
#include "faults.h"
#include "journal.h"
#include "link.h"
#include "uploadstore.h"

#include <fcntl.h>
#include <httplib.h>
#include <memory>
#include <unistd.h>

namespace devserver {

namespace {

constexpr size_t MaxNameBytes = 1024;

void discardBody(const httplib::Request &request, const httplib::ContentReader &reader)
{
    if (request.is_multipart_form_data())
        reader([](const httplib::MultipartFormData &) { return true; }, [](const char *, size_t) { return true; });
    else
        reader([](const char *, size_t) { return true; });
}

PartReader partReader(const httplib::Request &request, const httplib::ContentReader &reader)
{
    return [&request, &reader](const ByteSink &sink) {
        if (!request.is_multipart_form_data()) {
            discardBody(request, reader);
            return BodyStatus::NoFilePart;
        }
        bool inFile = false;
        bool sawFile = false;
        const bool complete = reader(
            [&](const httplib::MultipartFormData &part) {
                // Only the first "file" part is the chunk; anything else is ignored.
                inFile = part.name == "file" && !sawFile;
                sawFile = sawFile || inFile;
                return true;
            },
            [&](const char *data, size_t size) { return inFile ? sink(data, size) : true; });
        if (!complete)
            return BodyStatus::Broken;
        return sawFile ? BodyStatus::Ok : BodyStatus::NoFilePart;
    };
}

bool parseChunk(const ParamList &query, ChunkParams &chunk, std::string &error)
{
    for (const char *name : {"uuid", "name", "total", "pos", "end"}) {
        if (!findParam(query, name)) {
            error = std::string("缺少参数: ") + name;
            return false;
        }
    }
    chunk.uuid = *findParam(query, "uuid");
    chunk.name = *findParam(query, "name");
    if (chunk.uuid.empty() || chunk.name.empty() || chunk.name.size() > MaxNameBytes) {
        error = "参数 uuid 和 name 不能为空, name 不超过 1024 字节";
        return false;
    }
    if (!parseInt64(*findParam(query, "total"), chunk.total) || chunk.total < 0) {
        error = "参数 total 应为非负整数";
        return false;
    }
    if (!parseInt64(*findParam(query, "pos"), chunk.pos) || chunk.pos < 0) {
        error = "参数 pos 应为非负整数";
        return false;
    }
    const std::string &end = *findParam(query, "end");
    if (end != "0" && end != "1") {
        error = "参数 end 应为 0 或 1";
        return false;
    }
    chunk.end = end == "1";
    return true;
}

} // namespace

UploadRoute::UploadRoute(ServerContext &context)
    : m_context(context)
{
}

void UploadRoute::install(httplib::Server &server)
{
    for (const std::string prefix : {"", "/r"}) {
        const bool alias = !prefix.empty();
        server.Post(prefix + "/api/upload", [this, alias](const httplib::Request &request, httplib::Response &response,
                                                          const httplib::ContentReader &reader) {
            handleUpload(alias, request, response, &reader);
        });
    }
    server.Get("/r/api/upload", [this](const httplib::Request &request, httplib::Response &response) {
        handleUpload(true, request, response, nullptr);
    });
    server.Get(R"(/files/([0-9a-f]{32})/(.+))",
               [this](const httplib::Request &request, httplib::Response &response) { serveFile(request, response); });
}

void UploadRoute::handleUpload(bool alias, const httplib::Request &request, httplib::Response &response,
                               const httplib::ContentReader *reader)
{
    const ParamList query = queryParams(request);
    m_context.journal.recordRequest(request, query, {});
    // Every early answer still reads the chunk off the connection, or the next request on a
    // kept-alive connection would start in the middle of this body.
    const auto consume = [&] {
        if (reader)
            discardBody(request, *reader);
    };
    if (refuseRepeatedKey(query, response)) {
        consume();
        return;
    }
    if (!alias && applyFault(m_context, "upload", request, response, consume))
        return;
    if (!tokenAccepted(m_context, request)) {
        consume();
        replyError(response, "401", "令牌无效");
        return;
    }
    ChunkParams chunk;
    std::string error;
    if (!parseChunk(query, chunk, error)) {
        consume();
        replyError(response, "400", error);
        return;
    }
    if (!reader) {
        replyError(response, "400", "上传需要 POST 一个 multipart 文件部分");
        return;
    }

    const size_t upload = m_context.uploads.attach(chunk);
    const ChunkFault fault = m_context.faults.takeChunkFault();
    if (fault.stallMs > 0)
        m_context.shutdown.waitFor(fault.stallMs);
    if (fault.kind == ChunkFault::Kind::Reject) {
        consume();
        m_context.uploads.recordRejected(upload, chunk, fault.reason);
        replyError(response, "503", "分片暂不可用");
        return;
    }
    if (fault.kind == ChunkFault::Kind::Drop) {
        consume();
        m_context.uploads.recordRejected(upload, chunk, fault.reason);
        dropConnection(response);
        return;
    }

    // On an emulated link the chunk arrives at the link's pace.
    Link *link = m_context.link;
    Link::Transfer transfer;
    const auto throttled = [link, &transfer](const httplib::ContentReceiver &data) {
        return [link, &transfer, data](const char *bytes, size_t size) {
            link->carry(transfer, size);
            return data(bytes, size);
        };
    };
    const httplib::ContentReader paced(
        [reader, throttled](httplib::ContentReceiver data) { return (*reader)(throttled(data)); },
        [reader, throttled](httplib::MultipartContentHeader header, httplib::ContentReceiver data) {
            return (*reader)(std::move(header), throttled(data));
        });
    const httplib::ContentReader &body = link && link->active() ? paced : *reader;
    const ChunkOutcome outcome = m_context.uploads.write(upload, chunk, partReader(request, body));
    if (fault.kind == ChunkFault::Kind::Lose) {
        dropConnection(response);
        return;
    }
    if (outcome.accepted)
        replyData(response, Json{{"id", outcome.id}, {"uri", outcome.uri}});
    else
        replyError(response, outcome.code, outcome.message);
}

void UploadRoute::serveFile(const httplib::Request &request, httplib::Response &response)
{
    FinishedFile file;
    if (!m_context.uploads.finishedFile(request.matches[1], file) || request.matches[2] != file.name) {
        replyJson(response, envelope(false, "404", "文件不存在或未上传完成"), 404);
        return;
    }
    const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        replyJson(response, envelope(false, "404", "文件不存在或未上传完成"), 404);
        return;
    }
    auto descriptor = std::make_shared<int>(fd);
    response.set_content_provider(
        size_t(file.size), "application/octet-stream",
        [descriptor](size_t offset, size_t length, httplib::DataSink &sink) {
            char buffer[64 * 1024];
            const ssize_t got = ::pread(*descriptor, buffer, std::min(length, sizeof buffer), off_t(offset));
            if (got <= 0)
                return false;
            sink.write(buffer, size_t(got));
            return true;
        },
        [descriptor](bool) { ::close(*descriptor); });
}

} // namespace devserver
