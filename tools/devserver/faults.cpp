// SPDX-License-Identifier: MIT
#include "faults.h"

#include <algorithm>
#include <cstdlib>

namespace devserver {

namespace {

constexpr int MaxStallMs = 600000;

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

bool valueRange(const std::string &kind, int64_t value, std::string &error)
{
    if (kind == "fail" && (value < 200 || value > 599)) {
        error = "fail status must be 200..599";
        return false;
    }
    if (kind == "stall" && (value < 0 || value > MaxStallMs)) {
        error = "stall milliseconds must be 0..600000";
        return false;
    }
    return true;
}

bool isRedirectStatus(int64_t status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool takesValue(const std::string &kind)
{
    return kind == "fail" || kind == "stall";
}

bool knownEndpoint(const std::string &name, std::string &error)
{
    const auto &names = Faults::endpoints();
    if (std::find(names.begin(), names.end(), name) != names.end())
        return true;
    error =
        "unknown endpoint \"" + name + "\" (settings, token, removed, refresh, check, upload, addVideo, removeFile)";
    return false;
}

bool jsonCount(const Json &count, int64_t &out, std::string &error)
{
    if (count.is_null()) {
        out = -1;
        return true;
    }
    if (!count.is_number_integer() || count.get<int64_t>() < 0) {
        error = "a fault count must be a non-negative integer or null";
        return false;
    }
    out = count.get<int64_t>();
    return true;
}

} // namespace

const std::vector<std::string> &Faults::endpoints()
{
    static const std::vector<std::string> names{"settings", "token",  "removed",  "refresh",
                                                "check",    "upload", "addVideo", "removeFile"};
    return names;
}

bool Faults::isFaultKey(const std::string &key)
{
    return key == "fail" || key == "drop" || key == "reset" || key == "stall" || key == "redirect"
           || key == "invalidJson" || key == "rejectChunks" || key == "loseReply" || key == "randomFaults";
}

void Faults::seed(uint64_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_random.seed(value);
}

Faults::Table *Faults::table(const std::string &kind)
{
    if (kind == "fail")
        return &m_fail;
    if (kind == "drop")
        return &m_drop;
    if (kind == "reset")
        return &m_reset;
    if (kind == "stall")
        return &m_stall;
    if (kind == "redirect")
        return &m_redirect;
    if (kind == "invalidJson")
        return &m_invalidJson;
    return nullptr;
}

const Faults::Table *Faults::table(const std::string &kind) const
{
    return const_cast<Faults *>(this)->table(kind);
}

bool Faults::parseFlagText(const std::string &kind, const std::string &setting, Table &table, std::string &error)
{
    const std::vector<std::string> parts = split(setting, ':');
    const size_t needed = takesValue(kind) ? 2 : 1;
    if (parts.size() < needed || parts.size() > needed + 1) {
        error =
            "bad " + kind + " fault \"" + setting + "\"" + (takesValue(kind) ? " (EP:VALUE[:COUNT])" : " (EP[:COUNT])");
        return false;
    }
    if (!knownEndpoint(parts[0], error))
        return false;
    Entry entry;
    int64_t number = 0;
    if (takesValue(kind)) {
        if (!parseInt64(parts[1], number) || !valueRange(kind, number, error)) {
            if (error.empty())
                error = "bad value in " + kind + " fault \"" + setting + "\"";
            return false;
        }
        entry.value = int(number);
    }
    if (parts.size() == needed + 1) {
        if (!parseInt64(parts[needed], number) || number < 0) {
            error = "bad count in " + kind + " fault \"" + setting + "\"";
            return false;
        }
        entry.count = number;
    }
    if (entry.count == 0)
        table.erase(parts[0]);
    else
        table[parts[0]] = entry;
    return true;
}

bool Faults::parseJson(const std::string &kind, const Json &value, Table &table, std::string &error)
{
    if (value.is_null())
        return true;
    if (value.is_string())
        return parseFlagText(kind, value.get<std::string>(), table, error);
    if (value.is_array()) {
        for (const Json &item : value) {
            if (!item.is_string()) {
                error = kind + " list items must be strings like \"EP[:...]\"";
                return false;
            }
            if (!parseFlagText(kind, item.get<std::string>(), table, error))
                return false;
        }
        return true;
    }
    if (!value.is_object()) {
        error = kind + " must be an object, a string or a list of strings";
        return false;
    }
    const char *valueKey = kind == "fail" ? "status" : "ms";
    for (const auto &item : value.items()) {
        if (!knownEndpoint(item.key(), error))
            return false;
        const Json &setting = item.value();
        Entry entry;
        if (takesValue(kind)) {
            const Json number = setting.is_object() ? setting.value(valueKey, Json()) : setting;
            if (setting.is_null())
                continue;
            if (!number.is_number_integer() || !valueRange(kind, number.get<int64_t>(), error)) {
                if (error.empty())
                    error = kind + "." + item.key() + " needs an integer " + valueKey;
                return false;
            }
            entry.value = number.get<int>();
            if (setting.is_object() && !jsonCount(setting.value("count", Json()), entry.count, error))
                return false;
        } else if (kind == "redirect" && setting.is_object() && setting.contains("status")) {
            const Json &status = setting.at("status");
            if (!status.is_number_integer() || !isRedirectStatus(status.get<int64_t>())) {
                error = "redirect." + item.key() + ".status must be 301, 302, 303, 307 or 308";
                return false;
            }
            entry.value = status.get<int>();
            if (!jsonCount(setting.value("count", Json()), entry.count, error))
                return false;
        } else if (setting.is_null() || setting == true) {
            entry.count = -1;
        } else if (setting == false) {
            entry.count = 0;
        } else if (!jsonCount(setting.is_object() ? setting.value("count", Json()) : setting, entry.count, error)) {
            return false;
        }
        if (entry.count != 0)
            table[item.key()] = entry;
    }
    return true;
}

bool Faults::addFlag(const std::string &flag, const std::string &value, std::string &error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int64_t number = 0;
    if (flag == "reject-chunks" || flag == "lose-reply") {
        if (!parseInt64(value, number) || number < 0) {
            error = "--" + flag + " takes a count";
            return false;
        }
        (flag == "reject-chunks" ? m_rejectChunks : m_loseReplyIn) = number;
        return true;
    }
    if (flag == "random-faults") {
        char *end = nullptr;
        const double probability = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(probability >= 0.0 && probability <= 1.0)) {
            error = "--random-faults takes a probability 0..1";
            return false;
        }
        m_randomFaults = probability;
        return true;
    }
    const std::string kind = flag == "invalid-json" ? "invalidJson" : flag;
    Table *target = table(kind);
    if (!target) {
        error = "unknown fault --" + flag;
        return false;
    }
    return parseFlagText(kind, value, *target, error);
}

bool Faults::apply(const Json &config, std::string &error, bool dryRun)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::map<std::string, Table> tables;
    for (const char *kind : {"fail", "drop", "reset", "stall", "redirect", "invalidJson"}) {
        if (!config.contains(kind))
            continue;
        Table fresh;
        if (!parseJson(kind, config.at(kind), fresh, error))
            return false;
        tables[kind] = std::move(fresh);
    }
    const auto chunkCount = [&config, &error](const char *key, int64_t &count) {
        if (!config.contains(key))
            return true;
        const Json &value = config.at(key);
        if (!value.is_number_integer() || value.get<int64_t>() < 0) {
            error = std::string(key) + " must be a non-negative integer";
            return false;
        }
        count = value.get<int64_t>();
        return true;
    };
    int64_t rejectChunks = m_rejectChunks;
    int64_t loseReplyIn = m_loseReplyIn;
    if (!chunkCount("rejectChunks", rejectChunks) || !chunkCount("loseReply", loseReplyIn))
        return false;
    double randomFaults = m_randomFaults;
    if (config.contains("randomFaults")) {
        const Json &value = config.at("randomFaults");
        if (!value.is_number() || value.get<double>() < 0.0 || value.get<double>() > 1.0) {
            error = "randomFaults must be a number 0..1";
            return false;
        }
        randomFaults = value.get<double>();
    }
    if (dryRun)
        return true;
    for (auto &entry : tables)
        *table(entry.first) = std::move(entry.second);
    m_rejectChunks = rejectChunks;
    m_loseReplyIn = loseReplyIn;
    m_randomFaults = randomFaults;
    return true;
}

bool Faults::consume(Table &table, const std::string &endpoint, int &value)
{
    const auto found = table.find(endpoint);
    if (found == table.end())
        return false;
    value = found->second.value;
    if (found->second.count > 0 && --found->second.count == 0)
        table.erase(found);
    return true;
}

FaultAction Faults::take(const std::string &endpoint)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    FaultAction action;
    consume(m_stall, endpoint, action.stallMs);
    int value = 0;
    if (consume(m_reset, endpoint, value)) {
        action.kind = FaultKind::Reset;
    } else if (consume(m_drop, endpoint, value)) {
        action.kind = FaultKind::Drop;
    } else if (consume(m_fail, endpoint, value)) {
        action.kind = FaultKind::Fail;
        action.status = value;
    } else if (consume(m_redirect, endpoint, value)) {
        action.kind = FaultKind::Redirect;
        action.status = value == 0 ? 302 : value;
    } else if (consume(m_invalidJson, endpoint, value)) {
        action.kind = FaultKind::InvalidJson;
    }
    return action;
}

ChunkFault Faults::takeChunkFault()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ChunkFault fault;
    if (m_loseReplyIn > 0 && --m_loseReplyIn == 0) {
        fault.kind = ChunkFault::Kind::Lose;
        fault.reason = "loseReply";
        return fault;
    }
    if (m_rejectChunks > 0) {
        --m_rejectChunks;
        fault.kind = ChunkFault::Kind::Reject;
        fault.reason = "rejectChunks";
        return fault;
    }
    if (m_randomFaults <= 0.0 || std::uniform_real_distribution<double>(0.0, 1.0)(m_random) >= m_randomFaults)
        return fault;
    switch (std::uniform_int_distribution<int>(0, 2)(m_random)) {
    case 0:
        fault.kind = ChunkFault::Kind::Reject;
        fault.reason = "randomFaults: rejected";
        break;
    case 1:
        fault.kind = ChunkFault::Kind::Drop;
        fault.reason = "randomFaults: dropped";
        break;
    default: fault.stallMs = std::uniform_int_distribution<int>(100, 1500)(m_random); break;
    }
    return fault;
}

Json Faults::toJson() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto count = [](const Entry &entry) { return entry.count < 0 ? Json() : Json(entry.count); };
    Json out = Json::object();
    for (const char *kind : {"fail", "drop", "reset", "stall", "redirect", "invalidJson"}) {
        Json kindJson = Json::object();
        for (const auto &entry : *table(kind)) {
            Json item{{"count", count(entry.second)}};
            if (std::string(kind) == "fail")
                item["status"] = entry.second.value;
            else if (std::string(kind) == "stall")
                item["ms"] = entry.second.value;
            else if (std::string(kind) == "redirect")
                item["status"] = entry.second.value == 0 ? 302 : entry.second.value;
            kindJson[entry.first] = item;
        }
        out[kind] = kindJson;
    }
    out["rejectChunks"] = m_rejectChunks;
    out["loseReply"] = m_loseReplyIn;
    out["randomFaults"] = m_randomFaults;
    return out;
}

} // namespace devserver
