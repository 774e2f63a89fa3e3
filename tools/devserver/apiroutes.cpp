// SPDX-License-Identifier: MIT
#include "apiroutes.h"

#include "faults.h"
#include "journal.h"
#include "quickack.h"
#include "registration.h"
#include "sessionstate.h"
#include "uploadstore.h"

#include <httplib.h>
#include <sys/socket.h>

namespace devserver {

namespace {

const char *const FormEndpoints[] = {"removed", "refresh", "check", "addVideo", "removeFile"};

} // namespace

void dropConnection(httplib::Response &response)
{
    response.status = 200;
    response.set_content_provider(64, JsonType, [](size_t, size_t, httplib::DataSink &) { return false; });
}

bool requireParams(const ParamList &params, std::initializer_list<const char *> names, httplib::Response &response)
{
    for (const char *name : names) {
        if (!findParam(params, name)) {
            replyError(response, "400", std::string("缺少参数: ") + name);
            return false;
        }
    }
    return true;
}

ApiRoutes::ApiRoutes(ServerContext &context)
    : m_context(context)
{
}

void ApiRoutes::install(httplib::Server &server)
{
    for (const std::string prefix : {"", "/r"}) {
        const bool alias = !prefix.empty();
        const auto route = [this, alias](const std::string &endpoint) {
            return [this, alias, endpoint](const httplib::Request &request, httplib::Response &response) {
                handle(endpoint, alias, request, response);
            };
        };
        server.Get(prefix + "/platform/settings", route("settings"));
        server.Get(prefix + "/api/token", route("token"));
        for (const char *endpoint : FormEndpoints) {
            server.Post(prefix + "/api/" + endpoint, [this, alias, endpoint = std::string(endpoint)](
                                                         const httplib::Request &request, httplib::Response &response,
                                                         const httplib::ContentReader &reader) {
                std::string body;
                // Form parameters come url-encoded only; a multipart body is read and ignored.
                if (request.is_multipart_form_data())
                    reader([](const httplib::MultipartFormData &) { return true; },
                           [](const char *, size_t) { return true; });
                else
                    reader([&body, &request](const char *data, size_t size) {
                        body.append(data, size);
                        // A long form (a status report lists every file) comes in several
                        // segments: each is acknowledged at once, as the headers are.
                        acknowledgeHeadersNow(request);
                        return true;
                    });
                handle(endpoint, alias, request, response, body);
            });
            // Clients commonly follow a redirected POST with a GET; let that reach the handler.
            if (alias)
                server.Get(prefix + "/api/" + endpoint, route(endpoint));
        }
    }
}

bool applyFault(ServerContext &context, const std::string &endpoint, const httplib::Request &request,
                httplib::Response &response, const std::function<void()> &consumeBody)
{
    const FaultAction action = context.faults.take(endpoint);
    if (action.stallMs > 0)
        context.shutdown.waitFor(action.stallMs);
    if (action.kind == FaultKind::None)
        return false;
    // A reset leaves the body unread: the connection ends under the request.
    if (consumeBody && action.kind != FaultKind::Reset)
        consumeBody();
    switch (action.kind) {
    case FaultKind::Drop: dropConnection(response); break;
    case FaultKind::Reset:
        if (const int fd = connectionSocket(request); fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
        dropConnection(response);
        break;
    case FaultKind::Fail:
        response.status = action.status;
        if (action.status != 204 && action.status != 304)
            response.set_content(toText(envelope(false, std::to_string(action.status), reasonPhrase(action.status))),
                                 JsonType);
        break;
    case FaultKind::Redirect:
        response.set_redirect(context.baseUrl(request) + "/r" + request.target, action.status);
        break;
    case FaultKind::InvalidJson:
        response.status = 200;
        response.set_content("<html><head><title>502 Bad Gateway</title></head>"
                             "<body><h1>502 Bad Gateway</h1></body></html>",
                             "text/html; charset=utf-8");
        break;
    case FaultKind::None: break;
    }
    return true;
}

bool tokenAccepted(const ServerContext &context, const httplib::Request &request)
{
    // The client percent-encodes header values. httplib 0.11 already decodes them while parsing
    // (later versions do not); decoding again is harmless because issued tokens hold no '%'.
    return context.session.isTokenValid(percentDecode(request.get_header_value("token"), false));
}

void ApiRoutes::handle(const std::string &endpoint, bool alias, const httplib::Request &request,
                       httplib::Response &response, const std::string &body)
{
    const ParamList query = queryParams(request);
    const ParamList form = formParams(request, body);
    m_context.journal.recordRequest(request, query, form);
    ParamList params = query;
    params.insert(params.end(), form.begin(), form.end());
    // A real server may take the first of a repeated key; refusing it catches a client that
    // appends a value where it should replace one.
    if (refuseRepeatedKey(params, response))
        return;
    // Redirected requests arrive on the alias; faulting them again could loop forever.
    if (!alias && applyFault(m_context, endpoint, request, response, nullptr))
        return;
    if (endpoint != "settings" && endpoint != "token" && !tokenAccepted(m_context, request)) {
        replyError(response, "401", "令牌无效");
        return;
    }

    if (endpoint == "settings")
        handleSettings(request, response);
    else if (endpoint == "token")
        handleToken(params, response);
    else if (endpoint == "removed")
        handleRemoved(response);
    else if (endpoint == "refresh")
        handleRefresh(params, response);
    else if (endpoint == "check")
        handleCheck(params, response);
    else if (endpoint == "addVideo")
        handleAddVideo(params, response);
    else if (endpoint == "removeFile")
        handleRemoveFile(params, response);
}

void ApiRoutes::handleSettings(const httplib::Request &request, httplib::Response &response)
{
    replyJson(response, m_context.session.settingsReply(m_context.baseUrl(request)));
}

void ApiRoutes::handleToken(const ParamList &params, httplib::Response &response)
{
    const std::string *code = findParam(params, "code");
    if (!code || *code != m_context.session.code()) {
        m_context.journal.recordToken(Json{{"code", code ? *code : std::string()}, {"accepted", false}});
        replyError(response, "401", "授权码无效或已过期");
        return;
    }
    const std::string token = m_context.session.issueToken();
    m_context.journal.recordToken(Json{{"code", *code}, {"accepted", true}, {"token", token}});
    replyData(response, m_context.session.tokenData(token));
}

void ApiRoutes::handleRemoved(httplib::Response &response)
{
    Json list = Json::array();
    for (const std::string &id : m_context.session.takeRemoved())
        list.push_back(Json{{"removeTaskId", id}});
    replyData(response, list);
}

void ApiRoutes::handleRefresh(const ParamList &params, httplib::Response &response)
{
    Json report = paramsToJson(params);
    const std::string *list = findParam(params, "list");
    report["listJson"] = nullptr;
    if (list && !list->empty()) {
        try {
            report["listJson"] = Json::parse(*list);
        } catch (const Json::parse_error &error) {
            report["listError"] = error.what();
        }
    }
    m_context.journal.recordReport(std::move(report));
    replyData(response, "ok");
}

void ApiRoutes::handleCheck(const ParamList &params, httplib::Response &response)
{
    if (!requireParams(params,
                       {"uuid", "name", "suffix", "size", "duration", "videoCodec", "mp4Format", "nuvVideo", "rate",
                        "width", "height", "audioCodec"},
                       response))
        return;
    for (const char *name : {"size", "duration", "width", "height"}) {
        int64_t number = 0;
        if (!parseInt64(*findParam(params, name), number)) {
            replyError(response, "400", std::string("参数 ") + name + " 应为十进制整数");
            return;
        }
    }
    for (const char *name : {"mp4Format", "nuvVideo"}) {
        const std::string &flag = *findParam(params, name);
        if (flag != "0" && flag != "1") {
            replyError(response, "400", std::string("参数 ") + name + " 应为 0 或 1");
            return;
        }
    }
    if (*findParam(params, "uuid") != m_context.session.uuid()) {
        replyError(response, "400", "uuid 与当前会话不符");
        return;
    }
    replyData(response, m_context.session.taskList());
}

void ApiRoutes::handleAddVideo(const ParamList &params, httplib::Response &response)
{
    if (!requireParams(params, {"uuid", "filename", "Type", "moduleId", "parentId", "extras", "data", "form"},
                       response))
        return;
    Json data;
    Json form;
    std::string error;
    if (!checkRegistration(params, m_context.uploads, data, form, error)) {
        replyError(response, "400", error);
        return;
    }
    Json registration = paramsToJson(params);
    registration["dataJson"] = data;
    registration["formJson"] = form;
    m_context.journal.recordRegistration(std::move(registration));
    replyData(response, "ok");
}

void ApiRoutes::handleRemoveFile(const ParamList &params, httplib::Response &response)
{
    if (!requireParams(params, {"fileId", "uuid"}, response))
        return;
    m_context.journal.recordRemoval(paramsToJson(params));
    replyData(response, "ok");
}

} // namespace devserver
