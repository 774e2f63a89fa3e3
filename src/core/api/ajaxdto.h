// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/ajaxenvelope.h"

#include <QSharedPointer>
#include <QVector>

// A reply envelope with its payload. For list endpoints T is QVector<QSharedPointer<E>>.
template<typename T>
class AjaxDTO final : public AjaxEnvelope
{
public:
    using Payload = T;

    QSharedPointer<T> data() const { return m_data; }
    void setData(const QSharedPointer<T> &value) { m_data = value; }

private:
    QSharedPointer<T> m_data;
};

template<typename E>
using AjaxListDTO = AjaxDTO<QVector<QSharedPointer<E>>>;
