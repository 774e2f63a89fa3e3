// SPDX-License-Identifier: MIT
#include "serverapp.h"

#include "quickack.h"

#include <algorithm>
#include <httplib.h>
#include <iostream>
#include <mutex>
#include <sys/socket.h>

namespace devserver {

namespace {

constexpr size_t WorkerThreads = 64;
constexpr size_t MaxPayload = 64 * 1024 * 1024;

bool isLoopback(const std::string &address)
{
    return address.compare(0, 4, "127.") == 0 || address == "localhost" || address == "::1";
}

bool isWildcard(const std::string &address)
{
    return address == "0.0.0.0" || address == "::" || address.empty();
}

std::unique_ptr<httplib::Server> makeServer(const Options &options)
{
    if (options.tlsCert.empty())
        return std::make_unique<httplib::Server>();
    return std::make_unique<httplib::SSLServer>(options.tlsCert.c_str(), options.tlsKey.c_str());
}

} // namespace

ServerApp::ServerApp(const Options &options, Faults &faults, const std::string &dataFolder)
    : m_options(options)
    , m_link(options.linkMbps, options.linkRttMs, m_shutdown)
    , m_session(options)
    , m_uploads(dataFolder)
    , m_server(makeServer(options))
    , m_context{m_session,
                faults,
                m_journal,
                m_uploads,
                m_shutdown,
                options.tlsCert.empty() ? "http" : "https",
                isLoopback(options.bind) || isWildcard(options.bind) ? "127.0.0.1" : options.bind,
                0,
                isLoopback(options.bind)}
    , m_api(m_context)
    , m_upload(m_context)
    , m_test(m_context)
    , m_hostile(m_context)
    , m_admin(m_context)
{
    m_context.outage = &m_outage;
    m_context.link = &m_link;
    m_outage.setRefuseHandler([this](int exceptRemotePort) {
        cutConnections(m_context.port, exceptRemotePort);
        m_server->stop();
    });
    Outage::Plan plan;
    std::string error;
    if (!options.outage.empty() && Outage::parseFlag(options.outage, plan, error))
        m_outage.arm(plan, -1);
}

ServerApp::~ServerApp() = default;

void ServerApp::configure()
{
    // Without TCP_NODELAY every kept-alive request waits ~40 ms on delayed ACKs.
    m_server->set_tcp_nodelay(true);
    m_server->set_keep_alive_max_count(1000000);
    m_server->set_keep_alive_timeout(10);
    m_server->set_read_timeout(30);
    m_server->set_write_timeout(30);
    m_server->set_payload_max_length(MaxPayload);
    // Stalled requests and idle kept-alive connections each hold a worker.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(WorkerThreads); };

    m_server->set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &response) {
            if (!response.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            response.set_content(
                toText(envelope(false, std::to_string(response.status), reasonPhrase(response.status))), JsonType);
            return httplib::Server::HandlerResponse::Handled;
        }));
    m_server->set_exception_handler(
        [](const httplib::Request &, httplib::Response &response, std::exception_ptr exception) {
            std::string what = "unknown error";
            try {
                std::rethrow_exception(exception);
            } catch (const std::exception &error) {
                what = error.what();
            } catch (...) {
            }
            replyJson(response, envelope(false, "500", "服务器内部错误: " + what), 500);
        });
    m_server->set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &) {
        if (cutForOutage(request))
            return httplib::Server::HandlerResponse::Handled;
        if (request.get_header_value_count("Content-Length") > 0 || request.has_header("Transfer-Encoding"))
            acknowledgeHeadersNow(request);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    if (m_link.active())
        m_server->set_post_routing_handler(
            [this](const httplib::Request &, httplib::Response &) { m_link.delayReply(); });
    if (m_options.verbose) {
        m_server->set_logger([](const httplib::Request &request, const httplib::Response &response) {
            static std::mutex stderrMutex;
            std::lock_guard<std::mutex> lock(stderrMutex);
            std::cerr << "nuv-devserver: " << request.method << ' ' << request.target << " -> " << response.status
                      << '\n';
        });
    }

    m_api.install(*m_server);
    m_upload.install(*m_server);
    m_test.install(*m_server);
    m_hostile.install(*m_server);
    m_admin.install(*m_server);
}

bool ServerApp::bind(std::string &error)
{
    if (!m_server->is_valid()) {
        error = "cannot load the TLS certificate or key (" + m_options.tlsCert + ", " + m_options.tlsKey + ")";
        return false;
    }
    configure();
    int port = m_options.port;
    if (port == 0)
        port = m_server->bind_to_any_port(m_options.bind);
    else if (!m_server->bind_to_port(m_options.bind, port))
        port = -1;
    if (port <= 0) {
        error = "cannot listen on " + m_options.bind + ":" + std::to_string(m_options.port);
        return false;
    }
    m_context.port = port;
    return true;
}

std::string ServerApp::firstLine() const
{
    const std::string origin = m_context.scheme + "://" + m_context.host + ":" + std::to_string(m_context.port);
    return "nuv-devserver listening on " + origin + " launch nuvVideoClient://" + origin
           + "/platform/settings?uuid=" + m_session.uuid() + "&code=" + m_session.code()
           + "&type=1&moduleId=7&moduleName=%E8%A7%86%E9%A2%91&parentId=12&parentName=%E6%BC%94%E7%A4%BA&maxUploadNum="
           + std::to_string(m_session.maxUploadNum()) + "&extras=demo";
}

bool ServerApp::cutForOutage(const httplib::Request &request)
{
    // The admin and test routes are how a test watches an outage and ends it.
    if (request.path.rfind("/admin/", 0) == 0 || request.path.rfind("/test/", 0) == 0
        || !m_outage.onRequest(request.path == "/api/upload"))
        return false;
    const int fd = connectionSocket(request);
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    return true;
}

void ServerApp::run()
{
    for (;;) {
        m_server->listen_after_bind();
        if (m_shutdown.requested())
            return;
        // A refusing outage closed the listener: the port opens again when it ends.
        while (const int64_t left = m_outage.remainingMs()) {
            if (!m_shutdown.waitFor(int(std::min<int64_t>(left, 1000))))
                return;
        }
        while (!m_server->bind_to_port(m_options.bind, m_context.port)) {
            if (!m_shutdown.waitFor(20))
                return;
        }
        if (m_shutdown.requested())
            return;
    }
}

void ServerApp::stop()
{
    m_shutdown.request();
    m_server->stop();
}

} // namespace devserver
