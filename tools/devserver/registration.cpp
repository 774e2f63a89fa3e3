// SPDX-License-Identifier: MIT
#include "registration.h"

#include "uploadstore.h"

namespace devserver {

namespace {

bool parseJson(const std::string &text, Json &out, std::string &error)
{
    try {
        out = Json::parse(text);
        return true;
    } catch (const Json::parse_error &parseError) {
        error = parseError.what();
        return false;
    }
}

bool checkInteger(const ParamList &params, const char *name, std::string &error)
{
    int64_t number = 0;
    if (parseInt64(*findParam(params, name), number))
        return true;
    error = std::string("参数 ") + name + " 应为十进制整数";
    return false;
}

bool checkDataSlot(const Json &slot, size_t index, const UploadStore &uploads, std::string &error)
{
    const std::string where = "data[" + std::to_string(index) + "]";
    if (!slot.is_object() || !slot.contains("uri") || !slot.contains("id") || !slot.at("uri").is_string()
        || !slot.at("id").is_string()) {
        error = where + " 应为 null 或 {\"uri\":\"...\",\"id\":\"...\"}";
        return false;
    }
    const std::string id = slot.at("id").get<std::string>();
    FinishedFile file;
    if (!uploads.finishedFile(id, file)) {
        error = where + " 的 id 不是已完成的上传: " + id;
        return false;
    }
    if (slot.at("uri").get<std::string>() != file.uri) {
        error = where + " 的 uri 与上传 " + id + " 不符 (应为 " + file.uri + ")";
        return false;
    }
    return true;
}

} // namespace

bool checkRegistration(const ParamList &params, const UploadStore &uploads, Json &data, Json &form, std::string &error)
{
    if (!checkInteger(params, "Type", error) || !checkInteger(params, "moduleId", error))
        return false;

    std::string parseError;
    if (!parseJson(*findParam(params, "data"), data, parseError)) {
        error = "data 不是合法的 JSON: " + parseError;
        return false;
    }
    if (!data.is_array() || data.size() != 3) {
        error = "data 应为 3 个元素的 JSON 数组";
        return false;
    }
    bool anyFile = false;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i].is_null())
            continue;
        if (!checkDataSlot(data[i], i, uploads, error))
            return false;
        anyFile = true;
    }
    if (!anyFile) {
        error = "data 至少需要一个已上传的文件";
        return false;
    }

    if (!parseJson(*findParam(params, "form"), form, parseError)) {
        error = "form 不是合法的 JSON: " + parseError;
        return false;
    }
    if (!form.is_object()) {
        error = "form 应为 JSON 对象";
        return false;
    }
    return true;
}

} // namespace devserver
