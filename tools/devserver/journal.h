// SPDX-License-Identifier: MIT
#pragma once

#include "wire.h"

#include <cstddef>
#include <deque>
#include <mutex>

namespace httplib {
struct Request;
}

namespace devserver {

// What the platform endpoints were asked, for tests and integrators (GET /admin/journal).
// Every list is bounded so a long soak run cannot grow the server without limit; request
// entries never hold upload bytes.
class Journal final
{
public:
    static constexpr size_t MaxRequests = 10000;
    static constexpr size_t MaxEntries = 10000;

    Journal() = default;
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    void recordRequest(const httplib::Request &request, const ParamList &query, const ParamList &form);
    void recordReport(Json report);
    void recordRegistration(Json registration);
    void recordRemoval(Json removal);
    void recordToken(Json token);

    // The journal object; the uploads list comes from the upload store.
    Json toJson(Json uploads) const;
    void reset();

private:
    struct RequestEntry
    {
        std::string method;
        std::string path;
        ParamList query;
        ParamList form;
        ParamList headers;
        int port = 0; // the client's: one per connection
        int64_t time = 0;
    };
    static void push(std::deque<Json> &list, Json entry);

    mutable std::mutex m_mutex;
    std::deque<RequestEntry> m_requests;
    std::deque<Json> m_reports;
    std::deque<Json> m_registrations;
    std::deque<Json> m_removals;
    std::deque<Json> m_tokens;
};

} // namespace devserver
