// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

// Paging numbers: sent with list requests, returned in a reply's "query" object.
class Query final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Query)

public:
    explicit Query(QObject *parent = nullptr);
    ~Query() override;

    int pageSize() const { return m_pageSize; }
    int pageIndex() const { return m_pageIndex; }
    int pageCount() const { return m_pageCount; }
    qint64 recordCount() const { return m_recordCount; }

    void setPageSize(int value) { m_pageSize = value; }
    void setPageIndex(int value) { m_pageIndex = value; }
    void setPageCount(int value) { m_pageCount = value; }
    void setRecordCount(qint64 value) { m_recordCount = value; }

private:
    int m_pageSize = 0;
    int m_pageIndex = 0;
    int m_pageCount = 0;
    qint64 m_recordCount = 0;
};
