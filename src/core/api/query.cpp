// SPDX-License-Identifier: MIT
#include "core/api/query.h"

#include <QDebug>

Query::Query(QObject *parent)
    : QObject(parent)
{
}

Query::~Query()
{
    qDebug().noquote() << QStringLiteral("~Query()");
}
