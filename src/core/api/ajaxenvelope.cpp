// SPDX-License-Identifier: MIT
#include "core/api/ajaxenvelope.h"

AjaxEnvelope::AjaxEnvelope() = default;

AjaxEnvelope::~AjaxEnvelope() = default;

QString AjaxEnvelope::errorText() const
{
    QString text;
    if (m_code)
        text += QStringLiteral("(") + *m_code + QStringLiteral(")");
    if (m_message)
        text += QStringLiteral("(") + *m_message + QStringLiteral(")");
    return text;
}

QString AjaxEnvelope::describe() const
{
    return QStringLiteral("success=%1, code=%2, message=%3")
        .arg(m_success ? QStringLiteral("true") : QStringLiteral("false"), m_code ? *m_code : QStringLiteral("null"),
             m_message ? *m_message : QStringLiteral("null"));
}
