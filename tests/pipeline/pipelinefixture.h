// SPDX-License-Identifier: MIT
#pragma once

#include "core/pipeline/actionoutcome.h"
#include "core/pipeline/uploadfileinfo.h"
#include "core/session/clientoptions.h"
#include "devserver.h"
#include "workerrun.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class Manager;
class UploadManager;

// A nuv-devserver, a loaded coordinator and a private data folder (tmp) for one test.
class PipelineFixture final
{
    Q_DISABLE_COPY_MOVE(PipelineFixture)

public:
    PipelineFixture();
    ~PipelineFixture();

    // Starts the server with these arguments and loads settings and token, the coordinator
    // running under options in the fixture's data folder. QVERIFY-friendly.
    bool start(const QStringList &serverArgs = {}, ClientOptions options = ClientOptions());
    QString error() const { return m_error; }

    DevServer &server() { return m_server; }
    const DevServer &server() const { return m_server; }
    Manager *manager() const { return m_manager.get(); }
    QString dataPath(const QString &name) const { return m_data.filePath(name); }

    // A pipeline of the coordinator's session holding the record of path; with probe the
    // media facts come from ffmpeg as the task row takes them.
    QSharedPointer<UploadManager> pipelineFor(const QString &path, bool probe);
    // checkVideo() then a run, each on a worker.
    ActionOutcome checkAndRun(const QSharedPointer<UploadManager> &pipeline);
    // A run asked for as the front ends ask for it.
    ActionOutcome run(const QSharedPointer<UploadManager> &pipeline);

    // A file of size bytes of varying content.
    bool makeDataFile(const QString &path, qint64 size) const;

    QJsonArray journal(const char *list) const { return m_server.journalList(list); }
    // The statuses the server received, with runs of the same status folded into one.
    QStringList reportedStatuses() const;

private:
    QTemporaryDir m_data;
    DevServer m_server;
    std::unique_ptr<Manager> m_manager;
    QString m_error;
};
