// SPDX-License-Identifier: MIT
// Reply bodies straight into the envelope parser and the reflection, for every payload shape
// the client knows. Input: one byte choosing the payload type, one byte choosing the result
// code, then the body.
#include "core/api/baseclient.h"
#include "core/api/removefileid.h"
#include "core/api/settinginfodto.h"
#include "core/api/taskcommand.h"
#include "core/api/uploaddto.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// Every parameter form of the conversion table, so each path of the reflection is reached.
class FuzzDTO final : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE void setA(QString value) { m_text = value; }
    Q_INVOKABLE void setB(QSharedPointer<QString> value) { m_text = value ? *value : QString(); }
    Q_INVOKABLE void setC(QString *value) { std::unique_ptr<QString> owned(value); }
    Q_INVOKABLE void setD(int value) { m_number = value; }
    Q_INVOKABLE void setE(QSharedPointer<int> value) { m_number = value ? *value : 0; }
    Q_INVOKABLE void setF(int *value) { std::unique_ptr<int> owned(value); }
    Q_INVOKABLE void setG(qint64 value) { m_number = value; }
    Q_INVOKABLE void setH(QSharedPointer<qlonglong> value) { m_number = value ? *value : 0; }
    Q_INVOKABLE void setI(bool value) { m_number = value; }
    Q_INVOKABLE void setJ(bool *value) { std::unique_ptr<bool> owned(value); }
    Q_INVOKABLE void setK(QDateTime value) { m_number = value.toSecsSinceEpoch(); }
    Q_INVOKABLE void setL(QSharedPointer<QDateTime> value) { m_number = value ? value->isValid() : 0; }
    Q_INVOKABLE void setM(double value) { m_number = qint64(value); } // unsupported: throws

private:
    QString m_text;
    qint64 m_number = 0;
};

namespace {

void silent(QtMsgType, const QMessageLogContext &, const QString &)
{
}

// A failed code can never yield a successful envelope.
void check(const AjaxEnvelope &reply, int code)
{
    if (code != 200 && reply.success())
        std::abort();
}

template<typename T>
void single(const QSharedPointer<QByteArray> &body, int code)
{
    const auto reply = BaseClient::receiveReply<T>(body, &code);
    check(*reply, code);
}

template<typename E>
void list(const QSharedPointer<QByteArray> &body, int code)
{
    const auto reply = BaseClient::receiveReplyList<E>(body, &code);
    check(*reply, code);
    if (reply->data()) {
        for (const auto &item : *reply->data()) {
            if (!item)
                std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(silent);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    static const int codes[] = {200, 200, 200, 200, 203, 204, 302, 401, -1, 10, 0, 99999};
    const int code = codes[data[1] % (sizeof(codes) / sizeof(codes[0]))];
    const auto body = QSharedPointer<QByteArray>::create(reinterpret_cast<const char *>(data + 2), int(size - 2));
    try {
        switch (data[0] % 11) {
        case 0: single<QString>(body, code); break;
        case 1: single<SettingInfoDTO>(body, code); break;
        case 2: single<UploadDTO>(body, code); break;
        case 3: list<TaskCommand>(body, code); break;
        case 4: list<RemoveFileId>(body, code); break;
        case 5: single<qint64>(body, code); break;
        case 6: single<QDateTime>(body, code); break;
        case 7: single<bool>(body, code); break;
        case 8: single<double>(body, code); break;
        case 9: single<FuzzDTO>(body, code); break;
        default: list<FuzzDTO>(body, code); break;
        }
    } catch (const QString &) {
        // The reflection's documented type errors.
    }
    return 0;
}

#include "fuzz_envelope.moc"
