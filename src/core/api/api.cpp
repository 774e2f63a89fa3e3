// SPDX-License-Identifier: MIT
#include "core/api/api.h"

Api::Api(QObject *parent)
    : QObject(parent)
{
}

Api::~Api() = default;
