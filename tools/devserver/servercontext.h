// SPDX-License-Identifier: MIT
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>

namespace httplib {
struct Request;
}

namespace devserver {

class Link;
class Outage;

class Faults;
class Journal;
class SessionState;
class UploadStore;

// Lets stalled requests end at once when the server stops instead of holding up the exit.
class Shutdown final
{
public:
    Shutdown() = default;
    Shutdown(const Shutdown &) = delete;
    Shutdown &operator=(const Shutdown &) = delete;

    void request();
    bool requested() const;
    // Sleeps up to ms milliseconds; false when cut short by the shutdown.
    bool waitFor(int ms);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_requested = false;
};

// What every route needs: the server's state and where it can be reached.
struct ServerContext
{
    SessionState &session;
    Faults &faults;
    Journal &journal;
    UploadStore &uploads;
    Shutdown &shutdown;
    std::string scheme;
    std::string host; // as printed on the first line
    int port = 0;
    bool loopbackOnly = true;
    // The planned or running outage (ServerApp's).
    Outage *outage = nullptr;
    // The emulated link (ServerApp's); inactive unless asked for.
    Link *link = nullptr;

    // "scheme://host:port" as seen by the client: on a loopback-only server always 127.0.0.1,
    // otherwise the Host the client used, so links work from other machines.
    std::string baseUrl(const httplib::Request &request) const;
};

} // namespace devserver
