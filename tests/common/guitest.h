// SPDX-License-Identifier: MIT
#pragma once

#include "core/session/manager.h"
#include "devserver.h"
#include "filedrop.h"
#include "gui/assets/guiresources.h"
#include "gui/pages/frmapp.h"
#include "gui/pages/itemtaskwidget.h"
#include "testvideos.h"

#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>

namespace GuiTest {

// The compiled-in look, as the program applies it at start-up.
inline bool applyStyleSheet()
{
    initGuiResources();
    QFile css(QStringLiteral(":/assets/style/default.css"));
    if (!css.open(QIODevice::ReadOnly))
        return false;
    qApp->setStyleSheet(QString::fromUtf8(css.readAll()));
    return true;
}

// "a.mp4 b.mp4" as a list of names.
inline QStringList names(const char *spaced)
{
    return QString::fromUtf8(spaced).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

template<class T = QWidget>
T *child(const QObject *parent, const char *name)
{
    return parent->findChild<T *>(QString::fromLatin1(name));
}

// Waits, without blocking the event loop, for each modal window of a series (a file dialog,
// then a box) to come up and be active, and hands it to its step. Modal windows run their
// own event loop, so the timer keeps firing inside it; that is what lets a test press keys on
// a box that blocks the caller.
class ModalDriver final : public QObject
{
public:
    template<class... Steps>
    explicit ModalDriver(Steps... steps)
        : m_steps{std::function<void(QWidget *)>(std::move(steps))...}
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
        m_timer.start(10);
    }

    // How many modal windows have been handed to their step.
    int seen() const { return m_seen; }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == m_last)
            return;
        if (QApplication::activeWindow() != modal) {
            QApplication::setActiveWindow(modal);
            return;
        }
        m_last = modal;
        if (m_seen + 1 == m_steps.size())
            m_timer.stop();
        m_steps.at(m_seen++)(modal);
    }

    QList<std::function<void(QWidget *)>> m_steps;
    QPointer<QWidget> m_last;
    QTimer m_timer;
    int m_seen = 0;
};

// A step for a message box: notes its text (and title) and clicks the button of that name.
// Any other window is noted as "<not our message box>" and closed, so a failing test does
// not hang in it.
inline std::function<void(QWidget *)> answer(const QString &button, QStringList *texts, QStringList *titles = nullptr)
{
    return [button, texts, titles](QWidget *box) {
        auto *text = box->findChild<QLabel *>(QStringLiteral("lblMessage"));
        auto *press = box->findChild<QPushButton *>(button);
        *texts << (text && press ? text->text() : QStringLiteral("<not our message box>"));
        if (!text || !press)
            return void(box->close());
        if (titles)
            *titles << child<QLabel>(box, "lblDialogTitle")->text();
        press->click();
    };
}


// The main window against a real nuv-devserver, with folders of its own: what the tests of
// the pages and the task rows share.
struct Window
{
    QTemporaryDir data;
    QTemporaryDir files;
    DevServer server;
    ClientOptions options;
    std::unique_ptr<FrmApp> window;

    bool setUp()
    {
        options.dataFolder = data.path();
        options.stallTimeoutMs = 15000;
        return data.isValid() && files.isValid() && applyStyleSheet() && server.start();
    }
    // The server's settings back to `config` and its journal emptied, between tests.
    bool reset(const QJsonObject &config) const { return server.configure(config) && server.resetJournal(); }

    FrmApp *open(const QString &launchText, InstanceRecords *records = nullptr)
    {
        window = std::make_unique<FrmApp>(nullptr, launchText, records);
        window->manager()->setOptions(options);
        return window.get();
    }
    // Opens on the server's launch command with the given limit and waits for the file page.
    bool openLoaded(int maxUploadNum = 8)
    {
        QString command = server.launchCommand();
        command.replace(QStringLiteral("maxUploadNum=8"), QStringLiteral("maxUploadNum=%1").arg(maxUploadNum));
        open(command)->show();
        return QTest::qWaitFor([this] { return current() == page("frmAdd"); }, 20000);
    }

    QWidget *page(const char *name) const { return child(window.get(), name); }
    QWidget *current() const { return child<QStackedWidget>(window.get(), "stackedWidget")->currentWidget(); }
    QListWidget *list() const { return child<QListWidget>(window.get(), "listTask"); }
    ItemTaskWidget *row(int index) const
    {
        return qobject_cast<ItemTaskWidget *>(list()->itemWidget(list()->item(index)));
    }
    QPushButton *button(int index, const char *name) const { return child<QPushButton>(row(index), name); }

    // Generated clips, made once; each is 0.2 s longer than the one before, so every upload
    // is told apart by its hash. Empty when ffmpeg failed.
    QStringList videos(const QStringList &names, TestVideoOptions each = {})
    {
        QStringList paths;
        for (const QString &name : names) {
            paths << files.filePath(name);
            if (!QFile::exists(paths.last()) && !TestVideos::make(paths.last(), each))
                return {};
            each.seconds += 0.2;
        }
        return paths;
    }

    // Files that are no videos: rows made from them fail at the probe, without the server.
    QStringList notVideos(const QStringList &names) const
    {
        QStringList paths;
        for (const QString &name : names) {
            QFile file(files.filePath(name));
            paths << (file.open(QIODevice::WriteOnly) && file.write("no video") ? file.fileName() : QString());
        }
        return paths;
    }

    // Waits until row `index` shows `status` (and, when given, `also` holds); empty when it
    // does, else what was seen. It stops as soon as that can no longer come: the row failed or
    // completed instead, or the server refused a chunk since the wait began.
    QString waitRow(int index, ItemTaskWidgetStatus status, int timeoutMs = 60000,
                    const std::function<bool(const ItemTaskWidget &)> &also = {}) const
    {
        const auto refused = [this] {
            QStringList reasons;
            for (const QJsonValue &upload : server.journalList("uploads")) {
                for (const QJsonValue &chunk : upload[QStringLiteral("chunks")].toArray())
                    reasons << chunk[QStringLiteral("reason")].toString();
            }
            reasons.removeAll(QString());
            return reasons;
        };
        const int before = refused().size();
        QElapsedTimer asked;
        asked.start();
        QString seen;
        const bool ended = QTest::qWaitFor(
            [&] {
                const ItemTaskWidget *shown = row(index);
                const QLabel *text = shown ? child<QLabel>(shown, "lblProgress") : nullptr;
                seen = text ? QStringLiteral("row %1 (%2) shows %3: %4")
                                  .arg(QString::number(index), shown->fileInfo().name, text->text(), text->toolTip())
                            : QStringLiteral("row %1 is gone").arg(index);
                if (!shown || (shown->status() == status && (!also || also(*shown)))
                    || shown->status() == ItemTaskWidgetStatus::Failed
                    || shown->status() == ItemTaskWidgetStatus::Completed)
                    return true;
                if (status == ItemTaskWidgetStatus::Failed || asked.elapsed() < 300)
                    return false;
                asked.restart();
                const QStringList reasons = refused().mid(before);
                if (!reasons.isEmpty())
                    seen += QStringLiteral("; the server refused: ") + reasons.join(QStringLiteral(", "));
                return !reasons.isEmpty();
            },
            timeoutMs);
        if (!ended)
            return seen + QStringLiteral(" after %1 ms").arg(timeoutMs);
        return row(index) && row(index)->status() == status && (!also || also(*row(index))) ? QString() : seen;
    }
};

} // namespace GuiTest

// Fails the test, with what was seen, unless row `index` of `w` comes to a status (and
// what else waitRow is given).
#define GUITEST_ROW_REACHES(w, index, ...)                       \
    do {                                                         \
        const QString seen_ = (w).waitRow((index), __VA_ARGS__); \
        QVERIFY2(seen_.isEmpty(), qPrintable(seen_));            \
    } while (false)
