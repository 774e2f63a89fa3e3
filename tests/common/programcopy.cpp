// SPDX-License-Identifier: MIT
#include "programcopy.h"

#include <QDate>
#include <QFile>

bool ProgramCopy::install(const QString &name)
{
    program = dir.filePath(name);
    return QFile::copy(qEnvironmentVariable("NUV_BIN_DIR") + QLatin1Char('/') + name, program)
           && QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString ProgramCopy::logText() const
{
    QFile file(dir.filePath(QStringLiteral("logs/") + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))
                            + QStringLiteral(".log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
