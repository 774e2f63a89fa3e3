// SPDX-License-Identifier: MIT
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

// A nuv-devserver child process on a free loopback port, for tests.
//
// start() launches $NUV_BIN_DIR/nuv-devserver --port 0 plus the given arguments and waits
// for its first stdout line, which names the port and the launch command. The admin calls
// block in a local event loop (with a timeout) and return plain values so tests assert on
// them. The destructor ends the process.
class DevServer final
{
public:
    DevServer();
    ~DevServer();
    Q_DISABLE_COPY_MOVE(DevServer)

    // Writes a self-signed certificate for 127.0.0.1 and its key into folder (for --tls).
    static bool makeSelfSignedCertificate(const QString &folder, QString *certPath, QString *keyPath);

    bool start(const QStringList &extraArgs = {});
    void stop();
    bool isRunning() const;
    // Why start() failed (or the server died), for QVERIFY2 messages.
    QString errorString() const;

    int port() const;
    // "http://127.0.0.1:PORT" ("https://" when started with --tls).
    QString baseUrl() const;
    QString url(const QString &path) const;
    QString launchCommand() const;
    QString code() const;
    QString uuid() const;

    QJsonObject journal() const;
    // One list of the journal ("reports", "requests", "uploads", ...); empty when unanswered.
    QJsonArray journalList(const char *list) const;
    // The text of `field` in every entry of one journal list, in order.
    QStringList journalValues(const char *list, const char *field) const;
    // The entries of one journal list whose `field` is value, and the first of them (or none).
    QJsonArray journalWhere(const char *list, const char *field, const QString &value) const;
    QJsonObject journalEntry(const char *list, const char *field, const QString &value) const;
    // The file names registered, and the statuses reported, in order.
    QStringList registeredNames() const;
    QStringList reportedStatuses() const;
    // The requests that asked for path, in order.
    QJsonArray requestsTo(const QString &path) const;
    QJsonObject config() const;
    bool configure(const QJsonObject &config) const;
    bool markRemoved(const QString &id) const;
    bool resetJournal() const;
    // Bytes the latest /test/drip or /test/huge reply wrote; -1 while it is still being sent.
    qint64 bytesStreamed() const;

private:
    struct Reply
    {
        int status = 0;
        QByteArray body;
    };
    Reply call(const QByteArray &verb, const QString &path, const QByteArray &body = {}) const;
    QJsonObject getObject(const QString &path) const;

    std::unique_ptr<QProcess> m_process;
    QString m_error;
    QString m_scheme;
    int m_port = 0;
    QString m_launchCommand;
    QString m_code;
    QString m_uuid;
};
