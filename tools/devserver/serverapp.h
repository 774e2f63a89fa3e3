// SPDX-License-Identifier: MIT
#pragma once

#include "adminroutes.h"
#include "apiroutes.h"
#include "faults.h"
#include "hostileroutes.h"
#include "journal.h"
#include "link.h"
#include "options.h"
#include "outage.h"
#include "servercontext.h"
#include "sessionstate.h"
#include "testroutes.h"
#include "uploadroute.h"
#include "uploadstore.h"

#include <memory>
#include <string>

namespace httplib {
class Server;
struct Request;
} // namespace httplib

namespace devserver {

// The whole server: state, routes and the HTTP(S) listener.
class ServerApp final
{
public:
    ServerApp(const Options &options, Faults &faults, const std::string &dataFolder);
    ~ServerApp();
    ServerApp(const ServerApp &) = delete;
    ServerApp &operator=(const ServerApp &) = delete;

    // Binds the port (the socket accepts connections from here on); false with error.
    bool bind(std::string &error);
    // "nuv-devserver listening on ... launch nuvVideoClient://..."
    std::string firstLine() const;
    // Serves until stop(); a refusing outage closes the listener and opens it again after.
    void run();
    // Safe from another thread.
    void stop();

private:
    void configure();
    // An outage's cut: true when the request is to go unanswered.
    bool cutForOutage(const httplib::Request &request);

    const Options m_options;
    Shutdown m_shutdown;
    Outage m_outage;
    Link m_link;
    SessionState m_session;
    Journal m_journal;
    UploadStore m_uploads;
    std::unique_ptr<httplib::Server> m_server;
    ServerContext m_context;
    ApiRoutes m_api;
    UploadRoute m_upload;
    TestRoutes m_test;
    HostileRoutes m_hostile;
    AdminRoutes m_admin;
};

} // namespace devserver
