// SPDX-License-Identifier: MIT
#include "adminroutes.h"

#include "faults.h"
#include "journal.h"
#include "outage.h"
#include "sessionstate.h"
#include "uploadstore.h"
#include "wire.h"

#include <httplib.h>

namespace devserver {

namespace {

void replyBad(httplib::Response &response, const std::string &error)
{
    replyJson(response, Json{{"ok", false}, {"error", error}}, 400);
}

Json currentConfig(const ServerContext &context)
{
    Json config = context.session.toJson();
    config.update(context.faults.toJson());
    if (context.outage)
        config["outage"] = context.outage->toJson();
    return config;
}

} // namespace

AdminRoutes::AdminRoutes(ServerContext &context)
    : m_context(context)
{
}

void AdminRoutes::install(httplib::Server &server)
{
    server.Get("/admin/journal", [this](const httplib::Request &, httplib::Response &response) {
        replyJson(response, m_context.journal.toJson(m_context.uploads.toJson()));
    });
    server.Post("/admin/reset", [this](const httplib::Request &, httplib::Response &response) {
        m_context.journal.reset();
        m_context.uploads.hideAll();
        replyJson(response, Json{{"ok", true}});
    });
    server.Post("/admin/remove",
                [this](const httplib::Request &request, httplib::Response &response) { remove(request, response); });
    server.Get("/admin/config", [this](const httplib::Request &, httplib::Response &response) {
        replyJson(response, currentConfig(m_context));
    });
    server.Post("/admin/config",
                [this](const httplib::Request &request, httplib::Response &response) { configure(request, response); });
}

void AdminRoutes::configure(const httplib::Request &request, httplib::Response &response)
{
    Json config;
    try {
        config = Json::parse(request.body);
    } catch (const Json::parse_error &error) {
        replyBad(response, std::string("body is not JSON: ") + error.what());
        return;
    }
    if (!config.is_object()) {
        replyBad(response, "body must be a JSON object");
        return;
    }
    // A typo in a key should fail the test that made it, not be silently ignored.
    for (const auto &item : config.items()) {
        if (!SessionState::isConfigKey(item.key()) && !Faults::isFaultKey(item.key()) && item.key() != "outage") {
            replyBad(response, "unknown key \"" + item.key() + "\"");
            return;
        }
    }
    std::string error;
    // Validate everything first so a bad key changes nothing.
    Outage::Plan outage;
    const bool outageGiven = config.contains("outage") && m_context.outage;
    if (!m_context.session.apply(config, error, true) || !m_context.faults.apply(config, error, true)
        || (outageGiven && !Outage::parseJson(config.at("outage"), outage, error))) {
        replyBad(response, error);
        return;
    }
    m_context.session.apply(config, error, false);
    m_context.faults.apply(config, error, false);
    if (outageGiven)
        m_context.outage->arm(outage, request.remote_port);
    replyJson(response, Json{{"ok", true}, {"config", currentConfig(m_context)}});
}

void AdminRoutes::remove(const httplib::Request &request, httplib::Response &response)
{
    const ParamList query = queryParams(request);
    const std::string *id = findParam(query, "id");
    if (!id || id->empty()) {
        replyBad(response, "need id=<pipeline id>");
        return;
    }
    m_context.session.markRemoved(*id);
    replyJson(response, Json{{"ok", true}});
}

} // namespace devserver
