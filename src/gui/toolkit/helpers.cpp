// SPDX-License-Identifier: MIT
#include "gui/toolkit/helpers.h"

#include <QDateTime>
#include <QDir>

bool isEmpty(const QString &text)
{
    return text.length() == 0;
}

bool isNotEmpty(const QString &text)
{
    return text.length() > 0;
}

void ifEmpty(const QString &text, const std::function<void()> &f)
{
    Q_ASSERT_X(f, "ifEmpty", "no function given");
    if (isEmpty(text) && f)
        f();
}

void ifNotEmpty(const QString &text, const std::function<void()> &f)
{
    Q_ASSERT_X(f, "ifNotEmpty", "no function given");
    if (isNotEmpty(text) && f)
        f();
}

QFileInfo latestFile(const QString &folder, const QString &suffix)
{
    QFileInfo latest;
    QDateTime latestTime;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo &entry : entries) {
        if (entry.suffix() != suffix)
            continue;
        const QDateTime modified = entry.lastModified();
        // Strictly later only: of files with the same time, the first found stays.
        if (!latest.exists() || modified > latestTime) {
            latest = entry;
            latestTime = modified;
        }
    }
    return latest;
}
