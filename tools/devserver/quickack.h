// SPDX-License-Identifier: MIT
#pragma once

namespace httplib {
struct Request;
}

namespace devserver {

// Acknowledges the request's headers at once. Clients without TCP_NODELAY (Qt's network
// access manager among them) send a small POST body only after the headers are acknowledged,
// and on a kept-alive connection Linux delays that ACK by ~40 ms; every small POST would pay
// it. Call it before the body is read (pre-routing).
void acknowledgeHeadersNow(const httplib::Request &request);

// The socket of the request's plain (not TLS) connection, or -1: for writing bytes httplib
// would never write itself.
int connectionSocket(const httplib::Request &request);

} // namespace devserver
