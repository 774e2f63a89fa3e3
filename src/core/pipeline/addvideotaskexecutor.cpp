// SPDX-License-Identifier: MIT
#include "core/pipeline/addvideotaskexecutor.h"

#include "core/api/taskcommand.h"
#include "core/pipeline/outagewait.h"
#include "core/pipeline/resumejournal.h"
#include "core/pipeline/uploadmanager.h"

#include <QDateTime>
#include <QDebug>
#include <QScopeGuard>

namespace {

QString flag(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

AddVideoTaskExecutor::AddVideoTaskExecutor(QObject *parent)
    : ITaskExecutor(parent)
{
}

AddVideoTaskExecutor::~AddVideoTaskExecutor()
{
    qDebug("AddVideoTaskExecutor::~AddVideoTaskExecutor");
}

QString AddVideoTaskExecutor::jsonEscaped(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '"': escaped += QLatin1String("\\\""); break;
        case '\\': escaped += QLatin1String("\\\\"); break;
        case '\b': escaped += QLatin1String("\\b"); break;
        case '\f': escaped += QLatin1String("\\f"); break;
        case '\n': escaped += QLatin1String("\\n"); break;
        case '\r': escaped += QLatin1String("\\r"); break;
        case '\t': escaped += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                escaped += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                escaped += c;
        }
    }
    return escaped;
}

QString AddVideoTaskExecutor::substitute(const QString &text, const QStringList &values)
{
    QString result;
    result.reserve(text.size());
    int at = 0;
    while (at < text.size()) {
        const QChar c = text.at(at);
        if (c != QLatin1Char('%')) {
            result += c;
            ++at;
            continue;
        }
        // The longest run of digits that names a value: "%10" is the tenth, not "%1" and "0".
        int digits = 0;
        int number = 0;
        int best = 0;
        int bestDigits = 0;
        while (at + 1 + digits < text.size() && text.at(at + 1 + digits).isDigit() && digits < 2) {
            number = number * 10 + text.at(at + 1 + digits).digitValue();
            ++digits;
            if (number >= 1 && number <= values.size()) {
                best = number;
                bestDigits = digits;
            }
        }
        if (best == 0) {
            result += c;
            ++at;
            continue;
        }
        result += values.at(best - 1);
        at += 1 + bestDigits;
    }
    return result;
}

QString AddVideoTaskExecutor::createAddVideoForm() const
{
    static const QString form =
        QStringLiteral("{\"name\":\"%1\",\"suffix\":\"%2\",\"size\":\"%3\",\"duration\":\"%4\",\"videoCodec\":\"%5\","
                       "\"mp4Format\":\"%6\",\"nuvVideo\":\"%7\",\"rate\":\"%8\",\"width\":\"%9\",\"height\":\"%10\","
                       "\"audioCodec\":\"%11\"}");
    const QStringList values{jsonEscaped(m_file.name),       jsonEscaped(m_file.suffix),
                             QString::number(m_file.size),   QString::number(m_file.duration),
                             jsonEscaped(m_file.videoCodec), flag(m_file.mp4Format),
                             flag(m_file.nuvVideo),          jsonEscaped(m_file.rate),
                             QString::number(m_file.width),  QString::number(m_file.height),
                             jsonEscaped(m_file.audioCodec)};
    const QString text = substitute(form, values);
    qDebug().noquote() << text;
    return text;
}

QString AddVideoTaskExecutor::createAddVideoData() const
{
    static const QString entryTemplate = QStringLiteral("{\"uri\":\"%1\",\"id\":\"%2\"}");
    QString entries[3] = {QStringLiteral("null"), QStringLiteral("null"), QStringLiteral("null")};
    const auto list = m_manager ? m_manager->tasks() : nullptr;
    if (list) {
        for (const QSharedPointer<TaskCommand> &task : *list) {
            if (task->taskType() != TaskType::Upload)
                continue;
            const QString uri = task->uploadUri();
            const QString id = task->uploadId();
            if (uri.isEmpty() && id.isEmpty())
                continue;
            const QString entry = substitute(entryTemplate, {jsonEscaped(uri), jsonEscaped(id)});
            switch (task->variant()) {
            case VariantSign::Original:
            case VariantSign::SuperHigh: entries[0] = entry; break;
            case VariantSign::High: entries[1] = entry; break;
            case VariantSign::Standard: entries[2] = entry; break;
            }
        }
    }
    const QString text = substitute(QStringLiteral("[%1,%2,%3]"), {entries[0], entries[1], entries[2]});
    qDebug().noquote() << text;
    return text;
}

void AddVideoTaskExecutor::doJob()
{
    const QString form = createAddVideoForm();
    const QString data = createAddVideoData();
    QSharedPointer<AjaxDTO<QString>> reply;
    OutageWait outage(options());
    const auto leave = qScopeGuard([this] {
        if (m_task)
            m_task->setNetworkWaitSince(0);
    });
    const auto tick = [this] {
        if (stopRequested()) {
            clearRunning();
            fail(TaskState::Stopped, QStringLiteral("任务已经停止上传"));
        }
        if (m_task && (QDateTime::currentMSecsSinceEpoch() - m_task->networkWaitSince()) % 1000 < OutageWait::SliceMs)
            emit m_task->dataUpdate();
    };
    for (;;) {
        reply = m_manager ? m_manager->addVideo(data, form) : nullptr;
        // Only a request that never reached the server is sent again: a registration that
        // may have arrived must not be made twice.
        if (!reply || reply->networkFault() != NetworkFault::NotConnected || !m_task)
            break;
        if (!outage.waiting()) {
            m_task->setNetworkWaitSince(QDateTime::currentMSecsSinceEpoch());
            emit m_task->dataUpdate();
        }
        if (!outage.pause(tick))
            break;
    }
    if (!reply || !reply->success()) {
        const QString message = QStringLiteral("视频登记失败:") + (reply ? reply->errorText() : QString());
        sendError(STATUS_NO_TASKS, TASK_ERROR_REGISTER, message);
        fail(TaskState::Failed, message);
    }
    if (m_task)
        m_task->setRate(100);
    forgetUploads();
    sendStatus(STATUS_REGISTERED, 100, 0);
}

void AddVideoTaskExecutor::forgetUploads() const
{
    const ClientOptions options = this->options();
    const auto list = m_manager ? m_manager->tasks() : nullptr;
    if (!list || m_file.uuid.isEmpty())
        return;
    QVector<UploadCheckpoint> files;
    for (const QSharedPointer<TaskCommand> &task : *list) {
        if (task->taskType() == TaskType::Upload)
            files.append(task->checkpoint());
    }
    ResumeJournal(options.resumeFolder(), m_file.uuid).forget(files);
}
