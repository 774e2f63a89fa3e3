// SPDX-License-Identifier: MIT
#include "options.h"

#include "outage.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace devserver {

namespace {

bool parseInt(const std::string &text, long long low, long long high, long long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

const char *const FaultFlags[] = {"reject-chunks", "lose-reply",   "fail",         "drop",         "reset",
                                  "stall",         "redirect",     "invalid-json", "random-faults"};

} // namespace

bool isPlainToken(const std::string &text)
{
    if (text.empty())
        return false;
    for (const char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
                           || c == '.' || c == '_' || c == '~';
        if (!plain)
            return false;
    }
    return true;
}

bool parseOptions(int argc, char **argv, Options &options, std::string &error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto next = [&](std::string &out) {
            if (i + 1 >= argc) {
                error = "missing value after " + arg;
                return false;
            }
            out = argv[++i];
            return true;
        };
        const auto nextInt = [&](long long low, long long high, long long &out) {
            std::string text;
            if (!next(text))
                return false;
            if (!parseInt(text, low, high, out)) {
                error = "bad value for " + arg + ": " + text;
                return false;
            }
            return true;
        };
        long long number = 0;
        std::string text;

        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--port") {
            if (!nextInt(0, 65535, number))
                return false;
            options.port = int(number);
        } else if (arg == "--bind") {
            if (!next(options.bind))
                return false;
        } else if (arg == "--data") {
            if (!next(options.dataFolder))
                return false;
        } else if (arg == "--tls") {
            if (!next(options.tlsCert) || !next(options.tlsKey))
                return false;
        } else if (arg == "--code") {
            if (!next(options.code))
                return false;
            if (!isPlainToken(options.code)) {
                error = "--code takes letters, digits and -._~ only";
                return false;
            }
        } else if (arg == "--uuid") {
            if (!next(options.uuid))
                return false;
            if (!isPlainToken(options.uuid)) {
                error = "--uuid takes letters, digits and -._~ only";
                return false;
            }
        } else if (arg == "--plan") {
            if (!next(options.plan))
                return false;
            if (options.plan != "original" && options.plan != "nr" && options.plan != "empty") {
                error = "--plan is original, nr or empty";
                return false;
            }
        } else if (arg == "--refresh-second") {
            if (!nextInt(0, 86400, number))
                return false;
            options.refreshSecond = int(number);
        } else if (arg == "--max-upload-num") {
            if (!nextInt(-1000000, 1000000, number))
                return false;
            options.maxUploadNum = int(number);
        } else if (arg == "--client-version") {
            if (!next(options.clientVersion))
                return false;
        } else if (arg == "--client-download") {
            if (!next(options.clientDownload))
                return false;
        } else if (arg == "--outage") {
            Outage::Plan plan;
            if (!next(options.outage) || !Outage::parseFlag(options.outage, plan, error))
                return false;
            // The listener is open before any request could begin an outage.
            if (plan.afterChunks < 1) {
                error = "--outage begins with a chunk upload: N is at least 1";
                return false;
            }
        } else if (arg == "--link-mbps") {
            if (!nextInt(0, 100000, number))
                return false;
            options.linkMbps = int(number);
        } else if (arg == "--link-rtt-ms") {
            if (!nextInt(0, 10000, number))
                return false;
            options.linkRttMs = int(number);
        } else if (arg == "--seed") {
            if (!nextInt(0, std::numeric_limits<long long>::max(), number))
                return false;
            options.seed = uint64_t(number);
            options.seeded = true;
        } else {
            bool isFault = false;
            for (const char *flag : FaultFlags) {
                if (arg.size() > 2 && arg.compare(0, 2, "--") == 0 && arg.compare(2, std::string::npos, flag) == 0) {
                    if (!next(text))
                        return false;
                    options.faults.emplace_back(flag, text);
                    isFault = true;
                    break;
                }
            }
            if (!isFault) {
                error = "unknown argument: " + arg;
                return false;
            }
        }
    }
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        error = "--tls takes a certificate file and a key file";
        return false;
    }
    return true;
}

const char *usageText()
{
    return R"(usage: nuv-devserver [options]

A small reference platform server for NUVUpload: settings, token, file check,
chunk upload, registration, status reports and removals, with fault injection.

  --port N                 port to listen on (0 = pick a free one; default 0)
  --bind ADDR              address to bind (default 127.0.0.1, loopback only)
  --data DIR               where uploads are written (default: a fresh folder
                           under /tmp, removed at exit)
  --tls CERT KEY           serve HTTPS with this PEM certificate and key
  --code CODE              the token code accepted (default devcode)
  --uuid UUID              session uuid of the launch command (default random)
  --plan P                 task plan: original, nr or empty (default original)
  --refresh-second N       refreshSecond of the settings (default 8)
  --max-upload-num N       maxUploadNum of the launch command (default 8)
  --client-version V       linuxVideoClientVersion of the settings
  --client-download URL    linuxVideoClientDownloadApi of the settings
  --seed N                 seed of --random-faults
  --link-mbps B            emulate a link of B Mbit/s: each chunk upload's body
                           is read no faster (default 0: off)
  --link-rtt-ms R          emulate a round trip of R ms: each reply is held
                           back R ms (default 0: off)
  --verbose                one line per request on stderr
  --help                   this text
  --version                print the version

Faults (EP is settings, token, removed, refresh, check, upload, addVideo or
removeFile; COUNT defaults to every request):
  --reject-chunks N        the next N chunk uploads get code "503"
  --lose-reply N           the N-th chunk upload from now is stored, then its
                           connection closes before the answer
  --fail EP:STATUS[:COUNT] answer that HTTP status
  --drop EP[:COUNT]        close the connection without a full reply
  --reset EP[:COUNT]       close the connection unanswered, the body unread
  --stall EP:MS[:COUNT]    wait MS milliseconds before answering
  --redirect EP[:COUNT]    answer 302 to the same endpoint under /r/
  --invalid-json EP[:COUNT] answer 200 with a body that is not JSON
  --random-faults P        reject, drop or stall each chunk upload with
                           probability P (0..1)
  --outage MS[:MODE[:N]]   from the N-th chunk upload on (default 1), answer
                           nothing for MS milliseconds: MODE cut (default)
                           closes each connection, refuse closes the listener

The first stdout line names the address and a launch command for the client.
)";
}

} // namespace devserver
