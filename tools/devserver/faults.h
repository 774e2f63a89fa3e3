// SPDX-License-Identifier: MIT
#pragma once

#include "wire.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace devserver {

enum class FaultKind { None, Fail, Drop, Reset, Redirect, InvalidJson };

// What to do to one request of an endpoint: wait first, then misbehave in one way.
struct FaultAction
{
    int stallMs = 0;
    FaultKind kind = FaultKind::None;
    int status = 0; // of a fail or a redirect
};

// The extra faults of chunk uploads (rejections and the soak run's random trouble).
struct ChunkFault
{
    // Lose: the chunk is stored, then the connection closes before the answer (a lost reply).
    enum class Kind { None, Reject, Drop, Lose };
    Kind kind = Kind::None;
    int stallMs = 0;
    std::string reason;
};

// Fault injection, set from the command line and at run time through /admin/config.
// Counts go down by one per affected request; a missing count means every request.
class Faults final
{
public:
    Faults() = default;
    Faults(const Faults &) = delete;
    Faults &operator=(const Faults &) = delete;

    static const std::vector<std::string> &endpoints();
    static bool isFaultKey(const std::string &key);

    void seed(uint64_t value);
    // flag: "fail", "drop", ... as on the command line without the dashes.
    bool addFlag(const std::string &flag, const std::string &value, std::string &error);
    // Replaces every fault kind named in config; with dryRun only validates.
    bool apply(const Json &config, std::string &error, bool dryRun);

    FaultAction take(const std::string &endpoint);
    ChunkFault takeChunkFault();
    Json toJson() const;

private:
    struct Entry
    {
        int64_t count = -1; // -1: every request
        int value = 0;      // status for fail and redirect, milliseconds for stall
    };
    using Table = std::map<std::string, Entry>;

    static bool parseFlagText(const std::string &kind, const std::string &setting, Table &table, std::string &error);
    static bool parseJson(const std::string &kind, const Json &value, Table &table, std::string &error);
    static bool consume(Table &table, const std::string &endpoint, int &value);
    Table *table(const std::string &kind);
    const Table *table(const std::string &kind) const;

    mutable std::mutex m_mutex;
    Table m_fail;
    Table m_drop;
    Table m_reset;
    Table m_stall;
    Table m_redirect;
    Table m_invalidJson;
    int64_t m_rejectChunks = 0;
    int64_t m_loseReplyIn = 0; // the reply of the chunk upload this many from now is lost
    double m_randomFaults = 0.0;
    std::mt19937_64 m_random{std::random_device{}()};
};

} // namespace devserver
