// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

// The platform's wire conventions: percent-encoding, form parameters and the reply envelope.
namespace devserver {

using Json = nlohmann::json;
// Ordered, duplicates kept: the order on the wire is part of what the journal shows.
using ParamList = std::vector<std::pair<std::string, std::string>>;

extern const char *const JsonType;

// plusIsSpace: form bodies and queries write a space as "+"; headers do not.
std::string percentDecode(const std::string &text, bool plusIsSpace);
// RFC 3986 unreserved characters stay, every other byte becomes %XX.
std::string percentEncode(const std::string &text);

ParamList parseUrlEncoded(const std::string &text);
ParamList queryParams(const httplib::Request &request);
// The body's parameters when it is form-encoded, else nothing.
ParamList formParams(const httplib::Request &request);
// The same for a body read by the route itself.
ParamList formParams(const httplib::Request &request, const std::string &body);
// The last value of key, or null when absent (a later duplicate wins).
const std::string *findParam(const ParamList &params, const std::string &key);
// The first key that occurs more than once, or null.
const std::string *repeatedKey(const ParamList &params);
Json paramsToJson(const ParamList &params);

bool parseInt64(const std::string &text, int64_t &value);

int64_t nowMs();
std::string randomHex(size_t bytes);
// Random bytes in base64: "+" "/" in it make a client's header encoding matter.
std::string randomToken();

// Client texts (file names, headers) may hold invalid UTF-8; never let that throw.
std::string toText(const Json &json);

Json envelope(bool success, const std::string &code, const std::string &message);
void replyJson(httplib::Response &response, const Json &body, int status = 200);
void replyData(httplib::Response &response, const Json &data);
void replyError(httplib::Response &response, const std::string &code, const std::string &message);
// Refuses a request that repeats a parameter (HTTP 400); false when each key occurs once.
bool refuseRepeatedKey(const ParamList &params, httplib::Response &response);

const char *reasonPhrase(int status);

// httplib adds the socket's addresses as if they were headers; they were never sent.
bool isConnectionPseudoHeader(const std::string &name);

} // namespace devserver
