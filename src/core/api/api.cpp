// SPDX-License-Identifier: MIT
#include "api.h"

Api::Api(QObject *parent)
    : QObject(parent)
{
}

Api::~Api() = default;
