// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace devserver {

// Everything the command line can set. Fault flags are kept as (flag, value) pairs and
// handed to Faults, which owns their syntax.
struct Options
{
    int port = 0;
    std::string bind = "127.0.0.1";
    std::string dataFolder; // empty: a fresh folder under /tmp, removed at exit
    std::string tlsCert;
    std::string tlsKey;
    std::string code = "devcode";
    std::string uuid; // empty: a random 32-hex id
    std::string plan = "original";
    int refreshSecond = 8;
    int maxUploadNum = 8;
    std::string clientVersion;
    std::string clientDownload;
    std::vector<std::pair<std::string, std::string>> faults;
    std::string outage; // --outage, in Outage's flag syntax
    // --link-mbps, --link-rtt-ms: an emulated slow, distant link; 0 is off.
    int linkMbps = 0;
    int linkRttMs = 0;
    uint64_t seed = 0;
    bool seeded = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Returns false with a message in error when the arguments are unusable.
bool parseOptions(int argc, char **argv, Options &options, std::string &error);

const char *usageText();

// Launch-command values travel unescaped inside a URI query, so they must not need escaping.
bool isPlainToken(const std::string &text);

} // namespace devserver
