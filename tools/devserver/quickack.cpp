// SPDX-License-Identifier: MIT
#include "quickack.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace devserver {

namespace {

int portOf(const sockaddr_storage &address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return -1;
}

bool isConnection(int fd, int localPort, int remotePort)
{
    sockaddr_storage local{};
    sockaddr_storage remote{};
    socklen_t localSize = sizeof local;
    socklen_t remoteSize = sizeof remote;
    return ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) == 0
           && ::getpeername(fd, reinterpret_cast<sockaddr *>(&remote), &remoteSize) == 0 && portOf(local) == localPort
           && portOf(remote) == remotePort;
}

// httplib 0.11 does not hand the socket to handlers; find it among the open descriptors.
int findConnection(int localPort, int remotePort)
{
    DIR *folder = ::opendir("/proc/self/fd");
    if (!folder)
        return -1;
    int found = -1;
    while (const dirent *entry = ::readdir(folder)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != ::dirfd(folder) && isConnection(fd, localPort, remotePort)) {
            found = fd;
            break;
        }
    }
    ::closedir(folder);
    return found;
}

} // namespace

void acknowledgeHeadersNow(const httplib::Request &request)
{
    // A worker serves one connection at a time, so its last connection is remembered per thread.
    thread_local int lastLocalPort = -1;
    thread_local int lastRemotePort = -1;
    thread_local int lastFd = -1;
    if (request.local_port != lastLocalPort || request.remote_port != lastRemotePort) {
        // A connection's first request is acknowledged quickly by the kernel anyway.
        lastLocalPort = request.local_port;
        lastRemotePort = request.remote_port;
        lastFd = -1;
        return;
    }
    if (lastFd < 0 || !isConnection(lastFd, lastLocalPort, lastRemotePort))
        lastFd = findConnection(lastLocalPort, lastRemotePort);
    if (lastFd < 0)
        return;
    const int on = 1;
    ::setsockopt(lastFd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

int connectionSocket(const httplib::Request &request)
{
    return findConnection(request.local_port, request.remote_port);
}

} // namespace devserver
