// SPDX-License-Identifier: MIT
#include "journal.h"

#include <httplib.h>

namespace devserver {

namespace {

Json listToJson(const std::deque<Json> &list)
{
    Json out = Json::array();
    for (const Json &entry : list)
        out.push_back(entry);
    return out;
}

} // namespace

void Journal::push(std::deque<Json> &list, Json entry)
{
    if (!entry.contains("time"))
        entry["time"] = nowMs();
    list.push_back(std::move(entry));
    if (list.size() > MaxEntries)
        list.pop_front();
}

void Journal::recordRequest(const httplib::Request &request, const ParamList &query, const ParamList &form)
{
    RequestEntry entry;
    entry.method = request.method;
    entry.path = request.path;
    entry.query = query;
    entry.form = form;
    for (const auto &header : request.headers) {
        if (!isConnectionPseudoHeader(header.first))
            entry.headers.push_back(header);
    }
    entry.port = request.remote_port;
    entry.time = nowMs();

    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(std::move(entry));
    if (m_requests.size() > MaxRequests)
        m_requests.pop_front();
}

void Journal::recordReport(Json report)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    push(m_reports, std::move(report));
}

void Journal::recordRegistration(Json registration)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    push(m_registrations, std::move(registration));
}

void Journal::recordRemoval(Json removal)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    push(m_removals, std::move(removal));
}

void Journal::recordToken(Json token)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    push(m_tokens, std::move(token));
}

Json Journal::toJson(Json uploads) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Json requests = Json::array();
    for (const RequestEntry &entry : m_requests) {
        // Repeated header names are folded the way HTTP allows, with ", ".
        Json headers = Json::object();
        for (const auto &header : entry.headers) {
            if (headers.contains(header.first))
                headers[header.first] = headers[header.first].get<std::string>() + ", " + header.second;
            else
                headers[header.first] = header.second;
        }
        requests.push_back(Json{{"method", entry.method},
                                {"path", entry.path},
                                {"query", paramsToJson(entry.query)},
                                {"form", paramsToJson(entry.form)},
                                {"headers", headers},
                                {"port", entry.port},
                                {"time", entry.time}});
    }
    return Json{{"requests", requests},
                {"reports", listToJson(m_reports)},
                {"registrations", listToJson(m_registrations)},
                {"uploads", std::move(uploads)},
                {"removals", listToJson(m_removals)},
                {"tokens", listToJson(m_tokens)}};
}

void Journal::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
    m_reports.clear();
    m_registrations.clear();
    m_removals.clear();
    m_tokens.clear();
}

} // namespace devserver
