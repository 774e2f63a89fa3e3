// SPDX-License-Identifier: MIT
#pragma once

#include <QMetaType>

#include <functional>

// Closures handed to the user-interface thread travel in queued signals, so the type
// needs a meta-type id; the name is the one the signal signatures spell.
Q_DECLARE_METATYPE(std::function<void(void)>)

inline void registerFunctionMetaType()
{
    qRegisterMetaType<std::function<void(void)>>("std::function<void(void)>");
}
