// SPDX-License-Identifier: MIT
#include "core/pipeline/uploadtaskexecutor.h"

#include "core/api/taskcommand.h"
#include "core/api/uploaddto.h"
#include "core/pipeline/outagewait.h"
#include "core/pipeline/resumejournal.h"
#include "core/pipeline/uploadmanager.h"

#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTimer>

#include <cmath>

namespace {

QString stamp(const QDateTime &now)
{
    return now.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ')
           + now.toString(QStringLiteral("hh:mm:ss.zzz "));
}

} // namespace

UploadTaskExecutor::UploadTaskExecutor(QObject *parent)
    : ITaskExecutor(parent)
{
}

UploadTaskExecutor::~UploadTaskExecutor()
{
    qDebug("UploadTaskExecutor::~UploadTaskExecutor");
}

int UploadTaskExecutor::remainingSeconds(float percent, quint32 elapsed)
{
    const float remaining = float(quint32(elapsed * 100u)) / percent - float(elapsed);
    if (!std::isfinite(remaining) || remaining < 0 || remaining >= 4294967296.0f)
        return -1;
    return int(quint32(remaining));
}

QString UploadTaskExecutor::sourcePath(const QString &tmpFolder, STATUS *startStatus, QString *openFailure) const
{
    const VariantSign sign = m_task->variant();
    switch (sign) {
    case VariantSign::Original:
        *startStatus = STATUS_UPLOADING_ORIGINAL;
        *openFailure = QStringLiteral("原视频打开失败");
        return m_manager ? m_manager->file().path : m_file.path;
    case VariantSign::Standard:
        *startStatus = STATUS_UPLOADING_NR;
        *openFailure = QStringLiteral("标清视频打开失败");
        return variantPath(tmpFolder, sign, m_file.id);
    case VariantSign::High:
        *startStatus = STATUS_UPLOADING_HD;
        *openFailure = QStringLiteral("高清视频打开失败");
        return variantPath(tmpFolder, sign, m_file.id);
    case VariantSign::SuperHigh:
        *startStatus = STATUS_UPLOADING_HD;
        *openFailure = QStringLiteral("超清视频打开失败");
        return variantPath(tmpFolder, sign, m_file.id);
    }
    *startStatus = STATUS_NONE;
    return QString();
}

void UploadTaskExecutor::doJob()
{
    if (!m_task)
        throw QStringLiteral("Task Or File is null");

    const ClientOptions options = this->options();
    STATUS startStatus = STATUS_NONE;
    QString openFailure;
    const QString path = sourcePath(options.tmpFolder(), &startStatus, &openFailure);
    if (startStatus != STATUS_NONE)
        sendStatus(startStatus, 0, 0);
    if (path.isEmpty()) {
        sendError(STATUS_UPLOAD_NO_PATH, TASK_ERROR_FILE, QStringLiteral("文件不存在"));
        fail(TaskState::Failed, QStringLiteral("文件不存在"));
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        sendError(startStatus, TASK_ERROR_FILE, openFailure);
        fail(TaskState::Failed, openFailure);
    }
    const qint64 total = file.size();
    // Size and modification time as announced: a file that changes while it goes up would
    // reach the server as a mix of two versions.
    const QDateTime modified = QFileInfo(path).lastModified();
    UploadCheckpoint identity{path, total, modified.toMSecsSinceEpoch(), 0};
    qint64 pos = resumeOffset(identity);
    bool continuation = pos > 0 && file.seek(pos);
    if (!continuation)
        pos = 0;
    m_startTime = quint32(QDateTime::currentSecsSinceEpoch());
    if (m_manager)
        m_manager->setTransferred(pos, 0, total);
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const auto leave = qScopeGuard([this] { m_task->setNetworkWaitSince(0); });
    if (continuation) {
        qWarning().noquote() << QStringLiteral("续传 %1 from byte %2 of %3").arg(path).arg(pos).arg(total);
        reportProgress(pos, total);
    }

    // Allocated once; each chunk is read into it and handed to the request without a copy.
    QByteArray chunk;
    chunk.reserve(int(ChunkSize));
    while (pos < total) {
        // Never past the announced total, even when the file has grown since.
        const qint64 wanted = qMin(ChunkSize, total - pos);
        chunk.resize(int(wanted));
        const qint64 read = file.read(chunk.data(), wanted);
        if (read <= 0)
            fail(TaskState::Failed, QStringLiteral("文件读取出错：") + path);
        chunk.resize(int(read));
        const QFileInfo now(path);
        if (now.size() != total || now.lastModified() != modified) {
            const QString message = QStringLiteral("文件在上传过程中被修改：") + path;
            sendError(STATUS_UPLOAD_FAILED, TASK_ERROR_FILE, message);
            fail(TaskState::Failed, message);
        }
        const bool end = pos + read >= total;
        if (!sendChunk(name, pos, total, end, chunk, continuation)) {
            // The server may have dropped what it held: the whole file goes again, once.
            qWarning().noquote() << QStringLiteral("续传被拒绝，从头上传 ") + path;
            continuation = false;
            pos = 0;
            if (!file.seek(0))
                fail(TaskState::Failed, QStringLiteral("文件读取出错：") + path);
            recordAccepted(identity, 0);
            reportProgress(0, total);
            continue;
        }
        continuation = false;
        pos += read;
        recordAccepted(identity, pos);
        reportProgress(pos, total);
    }

    switch (m_task->variant()) {
    case VariantSign::Original: sendStatus(STATUS_UPLOADED_ORIGINAL, 0, 0); break;
    case VariantSign::Standard: sendStatus(STATUS_UPLOADED_NR, 0, 0); break;
    case VariantSign::High:
    case VariantSign::SuperHigh: sendStatus(STATUS_UPLOADED_HD, 0, 0); break;
    }
}

bool UploadTaskExecutor::sendChunk(const QString &name, qint64 pos, qint64 total, bool end, const QByteArray &chunk,
                                   bool continuation)
{
    const ClientOptions options = this->options();
    OutageWait outage(options);
    const auto tick = [this] {
        stopIfRequested();
        // The row's clock of the wait moves on once a second.
        if ((QDateTime::currentMSecsSinceEpoch() - m_task->networkWaitSince()) % 1000 < OutageWait::SliceMs)
            emit m_task->dataUpdate();
    };
    QString errorText;
    for (int refusals = 0; refusals < MaxAttempts;) {
        stopIfRequested();
        const QDateTime sendTime = QDateTime::currentDateTime();
        qWarning().noquote() << QStringLiteral("sendTime ") + stamp(sendTime);
        const auto written = [this, pos, total](qint64 bytes) { showWritten(pos, bytes, total); };
        const QSharedPointer<AjaxDTO<UploadDTO>> reply =
            m_manager ? m_manager->uploadChunk(name, pos, total, end, chunk, written) : nullptr;
        qDebug().noquote() << QStringLiteral("result:") + (reply ? reply->describe() : QStringLiteral("null"));
        if (!reply || !reply->success())
            showWritten(pos, 0, total);
        if (reply && reply->networkFault() != NetworkFault::None) {
            errorText = reply->errorText();
            if (!outage.waiting()) {
                m_task->setNetworkWaitSince(QDateTime::currentMSecsSinceEpoch());
                emit m_task->dataUpdate();
            }
            // No answer is no refusal: the attempts are kept for the server's own word.
            if (outage.pause(tick))
                continue;
            break;
        }
        if (outage.waiting()) {
            outage.reset();
            m_task->setNetworkWaitSince(0);
        }
        if (reply && reply->success()) {
            const QDateTime receiveTime = QDateTime::currentDateTime();
            qWarning().noquote() << QStringLiteral("receiveTime ") + stamp(receiveTime);
            qDebug().noquote() << QStringLiteral("receiveTime - sendTime:")
                                      + QString::number(sendTime.secsTo(receiveTime));
            fail(TaskState::Running, QString());
            if (const QSharedPointer<UploadDTO> uploaded = reply->data()) {
                m_task->setUploadId(uploaded->id());
                m_task->setUploadUri(uploaded->uri());
            }
            return true;
        }
        errorText = reply ? reply->errorText() : QString();
        if (continuation)
            return false;
        if (++refusals < MaxAttempts)
            pause(options.retryPauseMs);
    }
    m_task->setNetworkWaitSince(0);
    const QString message = QStringLiteral("多次上传重试失败(%1)").arg(errorText);
    sendError(STATUS_UPLOAD_FAILED, TASK_ERROR_UPLOAD, message);
    fail(TaskState::Failed, message);
    return false;
}

qint64 UploadTaskExecutor::resumeOffset(const UploadCheckpoint &file) const
{
    UploadCheckpoint saved = m_task->checkpoint();
    const ClientOptions options = this->options();
    if (!saved.sameFile(file) && options.resumeAcrossRestarts && !m_file.uuid.isEmpty())
        saved = ResumeJournal(options.resumeFolder(), m_file.uuid).find(file);
    // A file the server holds whole is sent again: only its last chunk would tell the ids.
    if (!saved.sameFile(file) || saved.offset <= 0 || saved.offset >= file.size)
        return 0;
    return saved.offset;
}

void UploadTaskExecutor::recordAccepted(UploadCheckpoint file, qint64 offset)
{
    file.offset = offset;
    const UploadCheckpoint previous = m_task->checkpoint();
    m_task->setCheckpoint(file);
    const ClientOptions options = this->options();
    if (!options.resumeAcrossRestarts || m_file.uuid.isEmpty())
        return;
    const ResumeJournal journal(options.resumeFolder(), m_file.uuid);
    // A file changed since its last run is a new upload; the old one's entry would only linger.
    if (previous.size >= 0 && !previous.sameFile(file))
        journal.forget({previous});
    journal.record(file);
}

void UploadTaskExecutor::stopIfRequested()
{
    if (!stopRequested())
        return;
    clearRunning();
    fail(TaskState::Stopped, QStringLiteral("任务已经停止上传"));
}

void UploadTaskExecutor::pause(int milliseconds)
{
    for (int waited = 0; waited < milliseconds; waited += PauseSliceMs) {
        // Events keep flowing on this worker while it waits (its own event loop).
        QEventLoop loop;
        QTimer::singleShot(qMin(PauseSliceMs, milliseconds - waited), &loop, &QEventLoop::quit);
        loop.exec();
        stopIfRequested();
    }
}

void UploadTaskExecutor::reportProgress(qint64 pos, qint64 total)
{
    const float percent = float(pos * 100 / total);
    const quint32 elapsed = quint32(QDateTime::currentSecsSinceEpoch()) - m_startTime;
    m_task->setRate(int(percent));
    m_task->setRemaining(remainingSeconds(percent, elapsed));
    if (m_manager) {
        m_manager->setRate(m_task->rate());
        m_manager->setTransferred(pos, 0, total);
    }
    m_shown.start();
    emit m_task->dataUpdate();
}

void UploadTaskExecutor::showWritten(qint64 pos, qint64 written, qint64 total)
{
    if (!m_manager)
        return;
    m_manager->setTransferred(pos, written, total);
    if (m_shown.isValid() && m_shown.elapsed() < ShowWrittenMs && written != 0)
        return;
    m_shown.start();
    emit m_task->dataUpdate();
}
