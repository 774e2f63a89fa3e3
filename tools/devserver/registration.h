// SPDX-License-Identifier: MIT
#pragma once

#include "wire.h"

#include <string>

namespace devserver {

class UploadStore;

// Checks an addVideo request (every parameter present): "Type" and "moduleId" are integers,
// "data" is a JSON array of three slots, each null or {"uri","id"} naming a finished upload of
// this server, at least one filled, and "form" is a JSON object. Returns the parsed texts, or
// false with a message saying what was wrong.
bool checkRegistration(const ParamList &params, const UploadStore &uploads, Json &data, Json &form, std::string &error);

} // namespace devserver
