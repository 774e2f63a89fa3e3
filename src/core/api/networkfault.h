// SPDX-License-Identifier: MIT
#pragma once

// What a failed request says about the network. A request the server answered, whatever it
// said (an HTTP error status, success false, a reply too large or malformed), has no fault
// here; nor has a failed TLS handshake or a cancelled request: waiting would change neither.
enum class NetworkFault {
    None,
    // No connection could be made (refused, name not resolved): nothing reached the server,
    // so the request can be sent again without being applied twice.
    NotConnected,
    // The connection failed otherwise, broke or stalled before a complete reply: the server
    // may have acted on the request.
    Broken,
};
