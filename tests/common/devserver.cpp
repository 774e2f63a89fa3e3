// SPDX-License-Identifier: MIT
#include "devserver.h"

#include "testsupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

namespace {
constexpr int StartTimeoutMs = 15000;
constexpr int CallTimeoutMs = 15000;

QString serverProgram()
{
    QString dir = qEnvironmentVariable("NUV_BIN_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return dir + QStringLiteral("/nuv-devserver");
}
} // namespace

DevServer::DevServer() = default;

DevServer::~DevServer()
{
    stop();
}

bool DevServer::makeSelfSignedCertificate(const QString &folder, QString *certPath, QString *keyPath)
{
    *certPath = folder + QStringLiteral("/cert.pem");
    *keyPath = folder + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                              QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                              QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                              QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                              QStringLiteral("-keyout"), *keyPath, QStringLiteral("-out"), *certPath});
    return openssl.waitForFinished(60000) && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
}

bool DevServer::start(const QStringList &extraArgs)
{
    stop();
    m_error.clear();
    m_process = std::make_unique<QProcess>();
    // The server's own diagnostics (and --verbose lines) end up in the test output.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(serverProgram(), QStringList{QStringLiteral("--port"), QStringLiteral("0")} + extraArgs);
    if (!m_process->waitForStarted(StartTimeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(serverProgram(), m_process->errorString());
        m_process.reset();
        return false;
    }

    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!m_process->canReadLine()) {
        if (m_process->state() != QProcess::Running || deadline.hasExpired()
            || !m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_process->canReadLine())
                break;
            m_error = QStringLiteral("nuv-devserver gave no first line (exit code %1)").arg(m_process->exitCode());
            stop();
            return false;
        }
    }
    const QString line = QString::fromUtf8(m_process->readLine()).trimmed();
    static const QRegularExpression pattern(
        QStringLiteral("^nuv-devserver listening on (https?)://[^:/ ]+:(\\d+) launch (nuvVideoClient://\\S+)$"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch()) {
        m_error = QStringLiteral("unexpected first line: ") + line;
        stop();
        return false;
    }
    m_scheme = match.captured(1);
    m_port = match.captured(2).toInt();
    m_launchCommand = match.captured(3);
    const QUrlQuery query(QUrl(m_launchCommand.mid(int(qstrlen("nuvVideoClient://")))));
    m_code = query.queryItemValue(QStringLiteral("code"));
    m_uuid = query.queryItemValue(QStringLiteral("uuid"));
    return true;
}

void DevServer::stop()
{
    if (!m_process)
        return;
    endProcess(m_process.get());
    m_process.reset();
}

bool DevServer::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString DevServer::errorString() const
{
    if (m_error.isEmpty() && m_process && m_process->state() != QProcess::Running)
        return QStringLiteral("nuv-devserver exited with code %1").arg(m_process->exitCode());
    return m_error;
}

int DevServer::port() const
{
    return m_port;
}

QString DevServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_scheme).arg(m_port);
}

QString DevServer::url(const QString &path) const
{
    return baseUrl() + path;
}

QString DevServer::launchCommand() const
{
    return m_launchCommand;
}

QString DevServer::code() const
{
    return m_code;
}

QString DevServer::uuid() const
{
    return m_uuid;
}

QJsonObject DevServer::journal() const
{
    return getObject(QStringLiteral("/admin/journal"));
}

QJsonArray DevServer::journalList(const char *list) const
{
    return journal().value(QString::fromLatin1(list)).toArray();
}

QStringList DevServer::journalValues(const char *list, const char *field) const
{
    QStringList values;
    for (const QJsonValue &entry : journalList(list))
        values.append(entry.toObject().value(QString::fromLatin1(field)).toString());
    return values;
}

QJsonArray DevServer::journalWhere(const char *list, const char *field, const QString &value) const
{
    QJsonArray found;
    for (const QJsonValue &entry : journalList(list)) {
        if (entry.toObject().value(QString::fromLatin1(field)).toString() == value)
            found.append(entry);
    }
    return found;
}

QJsonObject DevServer::journalEntry(const char *list, const char *field, const QString &value) const
{
    return journalWhere(list, field, value).first().toObject();
}

QStringList DevServer::registeredNames() const
{
    return journalValues("registrations", "filename");
}

QStringList DevServer::reportedStatuses() const
{
    return journalValues("reports", "status");
}

QJsonArray DevServer::requestsTo(const QString &path) const
{
    return journalWhere("requests", "path", path);
}

QJsonObject DevServer::config() const
{
    return getObject(QStringLiteral("/admin/config"));
}

bool DevServer::configure(const QJsonObject &config) const
{
    const Reply reply =
        call("POST", QStringLiteral("/admin/config"), QJsonDocument(config).toJson(QJsonDocument::Compact));
    return reply.status == 200;
}

bool DevServer::markRemoved(const QString &id) const
{
    return call("POST", QStringLiteral("/admin/remove?id=") + QString::fromLatin1(QUrl::toPercentEncoding(id))).status
           == 200;
}

bool DevServer::resetJournal() const
{
    return call("POST", QStringLiteral("/admin/reset")).status == 200;
}

qint64 DevServer::bytesStreamed() const
{
    const QJsonObject sent = getObject(QStringLiteral("/test/sent"));
    return sent.value(QStringLiteral("ended")).toBool() ? qint64(sent.value(QStringLiteral("bytes")).toDouble()) : -1;
}

QJsonObject DevServer::getObject(const QString &path) const
{
    const Reply reply = call("GET", path);
    if (reply.status != 200)
        return {};
    return QJsonDocument::fromJson(reply.body).object();
}

DevServer::Reply DevServer::call(const QByteArray &verb, const QString &path, const QByteArray &body) const
{
    Reply result;
    if (!isRunning())
        return result;

    // A manager per call: the helper may be used from any thread that runs an event loop.
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(baseUrl() + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    if (m_scheme == QLatin1String("https")) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(tls);
    }
    QNetworkReply *reply = manager.sendCustomRequest(request, verb, body);

    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, reply, &QNetworkReply::abort);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timeout.start(CallTimeoutMs);
    if (!reply->isFinished())
        loop.exec();

    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    delete reply;
    return result;
}
