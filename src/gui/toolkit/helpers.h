// SPDX-License-Identifier: MIT
#pragma once

#include <QFileInfo>
#include <QString>

#include <functional>

// Small conditionals on texts, so captions and messages read as one expression.
bool isEmpty(const QString &text);
bool isNotEmpty(const QString &text);
void ifEmpty(const QString &text, const std::function<void()> &f);
void ifNotEmpty(const QString &text, const std::function<void()> &f);

// The most recently modified file in `folder` whose suffix is exactly `suffix` (no dot,
// case-sensitive). With none, the result does not exist.
QFileInfo latestFile(const QString &folder, const QString &suffix);
