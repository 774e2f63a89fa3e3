// SPDX-License-Identifier: MIT
#pragma once

#include "core/pipeline/actionoutcome.h"
#include "devserver.h"
#include "workerrun.h"

#include <QSharedPointer>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <memory>

class Manager;
class QThread;
class UploadManager;

// As Qt 6 spells a QString literal, so keys and rows fit on a line.
inline QString operator""_s(const char *text, size_t size)
{
    return QString::fromUtf8(text, int(size));
}

// A nuv-devserver, a coordinator with a private data folder (tmp in it), and runs of its
// pipelines on a worker, a refused chunk tried again after 20 ms. The waits end with the
// outcome, not only with time: a chunk the server refused on its own (no fault the test
// arranged) means the run cannot succeed, so it is stopped there and the refusal reported.
class PipelineFixture final
{
    Q_DISABLE_COPY_MOVE(PipelineFixture)

public:
    PipelineFixture() = default;
    // Stops a run still going: a test that failed half-way must not wait for it.
    ~PipelineFixture();

    bool start(const QStringList &serverArgs = {}, int stallMs = 10000);
    QString error() const { return m_error; }
    DevServer &server() { return m_server; }
    Manager *manager() const { return m_manager.get(); }
    QString dataPath(const QString &name) const { return m_data.filePath(name); }
    // A file of size random bytes in the data folder; its path, or empty.
    QString dataFile(const QString &name, qint64 size) const;

    // A pipeline holding the record of path; with probe the media facts come from ffmpeg.
    QSharedPointer<UploadManager> pipelineFor(const QString &path, bool probe);
    ActionOutcome check(const QSharedPointer<UploadManager> &pipeline);
    // A run asked for as the front ends ask for it.
    ActionOutcome run(const QSharedPointer<UploadManager> &pipeline);
    ActionOutcome checkAndRun(const QSharedPointer<UploadManager> &pipeline);
    // work, a step of pipeline, on a worker; waitUntil is false when the run ended or went
    // astray before condition held, or after timeoutMs.
    void begin(const QSharedPointer<UploadManager> &pipeline, const std::function<void()> &work);
    bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 60000);
    ActionOutcome finish(int timeoutMs = 120000);

    QJsonArray journal(const char *list) const { return m_server.journalList(list); }
    // The chunks the server saw of its first upload.
    QJsonArray chunks() const;
    // The statuses the server received, with runs of the same status folded into one.
    QStringList reportedStatuses() const;

private:
    // A chunk refusal no arranged fault explains, as "pos N: reason"; empty when none.
    QString strayRefusal() const;
    // Ends the run where it stands; the interruption ends a request in flight too.
    void interrupt();

    QTemporaryDir m_data;
    DevServer m_server;
    std::unique_ptr<Manager> m_manager;
    QString m_error;
    QSharedPointer<UploadManager> m_pipeline;
    std::shared_ptr<std::atomic<QThread *>> m_thread;
    std::unique_ptr<WorkerRun> m_work;
    QString m_refusal;
};
