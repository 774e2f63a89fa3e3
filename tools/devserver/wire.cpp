// SPDX-License-Identifier: MIT
#include "wire.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <random>

namespace devserver {

const char *const JsonType = "application/json; charset=utf-8";

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void randomBytes(unsigned char *out, size_t size)
{
    if (RAND_bytes(out, int(size)) == 1)
        return;
    std::random_device device;
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<unsigned char>(device());
}

} // namespace

std::string percentDecode(const std::string &text, bool plusIsSpace)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::string percentEncode(const std::string &text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')
                                || (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_'
                                || byte == '~';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0x0F];
        }
    }
    return out;
}

ParamList parseUrlEncoded(const std::string &text)
{
    ParamList params;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string piece = text.substr(start, end - start);
        if (!piece.empty()) {
            const size_t equals = piece.find('=');
            if (equals == std::string::npos)
                params.emplace_back(percentDecode(piece, true), std::string());
            else
                params.emplace_back(percentDecode(piece.substr(0, equals), true),
                                    percentDecode(piece.substr(equals + 1), true));
        }
        start = end + 1;
    }
    return params;
}

ParamList queryParams(const httplib::Request &request)
{
    const size_t question = request.target.find('?');
    if (question == std::string::npos)
        return {};
    return parseUrlEncoded(request.target.substr(question + 1));
}

ParamList formParams(const httplib::Request &request)
{
    return formParams(request, request.body);
}

ParamList formParams(const httplib::Request &request, const std::string &body)
{
    const std::string type = request.get_header_value("Content-Type");
    if (type.compare(0, 33, "application/x-www-form-urlencoded") != 0)
        return {};
    return parseUrlEncoded(body);
}

const std::string *findParam(const ParamList &params, const std::string &key)
{
    const std::string *found = nullptr;
    for (const auto &param : params) {
        if (param.first == key)
            found = &param.second;
    }
    return found;
}

const std::string *repeatedKey(const ParamList &params)
{
    for (size_t i = 0; i < params.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (params[j].first == params[i].first)
                return &params[i].first;
        }
    }
    return nullptr;
}

Json paramsToJson(const ParamList &params)
{
    Json object = Json::object();
    for (const auto &param : params)
        object[param.first] = param.second;
    return object;
}

bool parseInt64(const std::string &text, int64_t &value)
{
    if (text.empty() || text.size() > 20 || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9')))
        return false;
    char *end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    value = parsed;
    return true;
}

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string randomHex(size_t bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::vector<unsigned char> raw(bytes);
    randomBytes(raw.data(), raw.size());
    std::string out;
    for (const unsigned char byte : raw) {
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
    return out;
}

std::string randomToken()
{
    unsigned char raw[24];
    randomBytes(raw, sizeof raw);
    unsigned char encoded[33] = {};
    EVP_EncodeBlock(encoded, raw, int(sizeof raw));
    return reinterpret_cast<const char *>(encoded);
}

std::string toText(const Json &json)
{
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json envelope(bool success, const std::string &code, const std::string &message)
{
    return Json{{"success", success}, {"code", code}, {"message", message}, {"sysTime", std::to_string(nowMs())}};
}

void replyJson(httplib::Response &response, const Json &body, int status)
{
    response.status = status;
    response.set_content(toText(body), JsonType);
}

void replyData(httplib::Response &response, const Json &data)
{
    Json body = envelope(true, "200", "操作成功");
    body["data"] = data;
    replyJson(response, body);
}

void replyError(httplib::Response &response, const std::string &code, const std::string &message)
{
    replyJson(response, envelope(false, code, message));
}

bool refuseRepeatedKey(const ParamList &params, httplib::Response &response)
{
    const std::string *key = repeatedKey(params);
    if (!key)
        return false;
    replyJson(response, envelope(false, "400", "参数重复: " + *key), 400);
    return true;
}

bool isConnectionPseudoHeader(const std::string &name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

const char *reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 413: return "Payload Too Large";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Unknown";
    }
}

} // namespace devserver
