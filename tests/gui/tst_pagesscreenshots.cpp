// SPDX-License-Identifier: MIT
// The main window's pages with the real style sheet on a real X server (Xvfb), kept as
// pictures in NUV_SCREENSHOT_DIR so the look can be checked by eye.
#include "core/pipeline/pipelineprogress.h"
#include "gui/pages/itemtaskstatuswidget.h"
#include "gui/toolkit/actionqueue.h"
#include "guitest.h"

using GuiTest::child;
using GuiTest::names;
using Status = ItemTaskWidgetStatus;

namespace {

// The colour at `x`, `y` of widget's place on the window's picture; a negative `y` is its
// middle row.
QString colourAt(const QImage &picture, const QWidget *widget, const QWidget *window, int x, int y)
{
    const QPoint at = widget->mapTo(window, QPoint(x, y < 0 ? widget->height() / 2 : y));
    return picture.pixelColor(at * picture.devicePixelRatio()).name();
}

// The widget's place on the window's picture, in the picture's pixels.
QRect placeOf(const QImage &picture, const QWidget *widget, const QWidget *window)
{
    const qreal scale = picture.devicePixelRatio();
    return QRect(widget->mapTo(window, QPoint(0, 0)) * scale, widget->size() * scale);
}

// Pixels of the widget's place that are plainly blue (the accent colour of the pictures).
int bluePixels(const QImage &picture, const QWidget *widget, const QWidget *window)
{
    const QRect place = placeOf(picture, widget, window);
    int count = 0;
    for (int y = place.top(); y <= place.bottom(); ++y)
        for (int x = place.left(); x <= place.right(); ++x)
            count += picture.pixelColor(x, y).blue() > picture.pixelColor(x, y).red() + 80;
    return count;
}

// Dark or coloured glyph pixels inside the widget's place on the window's picture; the
// page's backgrounds and borders are all near white.
bool showsText(const QImage &picture, const QWidget *widget, const QWidget *window)
{
    const QRect place = placeOf(picture, widget, window);
    for (int y = place.top(); y <= place.bottom(); ++y) {
        for (int x = place.left(); x <= place.right(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (qMin(c.red(), qMin(c.green(), c.blue())) < 170)
                return true;
        }
    }
    return false;
}

// The middle column of the dark pixels inside widget's place; -1 when there are none. An
// icon drawn whole sits in its button's middle, a strip drawn whole does not.
int inkMiddle(const QImage &picture, const QWidget *widget, const QWidget *window)
{
    const qreal scale = picture.devicePixelRatio();
    const QRect place = placeOf(picture, widget, window);
    int left = place.right(), right = -1;
    for (int y = place.top(); y <= place.bottom(); ++y) {
        for (int x = place.left(); x <= place.right(); ++x) {
            if (picture.pixelColor(x, y).lightness() < 200) {
                left = qMin(left, x);
                right = qMax(right, x);
            }
        }
    }
    return right < 0 ? -1 : int(((left + right) / 2 - place.left()) / scale);
}

} // namespace

class TestPagesScreenshots final : public QObject
{
    Q_OBJECT
    GuiTest::Window w;
    QString m_folder;

    // Pictures at a scale factor of 2 carry "@2x" in their names.
    bool save(const QImage &picture, const char *name) const
    {
        QString file = QString::fromLatin1(name);
        if (picture.devicePixelRatio() > 1)
            file.replace(QStringLiteral(".png"), QStringLiteral("@%1x.png").arg(picture.devicePixelRatio()));
        return picture.save(QDir(m_folder).filePath(file));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(w.setUp(), qPrintable(w.server.errorString()));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0.19"));
        QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
        m_folder = qEnvironmentVariable("NUV_SCREENSHOT_DIR", QDir::current().filePath(QStringLiteral("screenshots")));
        QVERIFY(QDir().mkpath(m_folder));
        // Without a CJK font every Chinese text would come out as boxes.
        QVERIFY(!QFontDatabase().families(QFontDatabase::SimplifiedChinese).isEmpty());
    }
    void cleanup() { w.window.reset(); }

    void pages_fileAndList_drawnInTheirColours()
    {
        QVERIFY(w.openLoaded());
        FrmApp *window = w.window.get();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QImage picture = window->grab().toImage();
        QVERIFY(save(picture, "page_add.png"));
        // Transparent around the shadow; the add button blue.
        QCOMPARE(picture.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(colourAt(picture, child(w.page("frmAdd"), "btnAdd"), window, 6, -1), QStringLiteral("#1baafb"));
        // The drop area's picture stays above its text: drawn from its "@2x" file on a scaled
        // screen, it once came out twice its size, over the text.
        QCOMPARE(bluePixels(picture, child(w.page("frmAdd"), "label_3"), window), 0);

        // The file check is held, so the rows keep the states given to them here; all five
        // are analysed at once.
        QVERIFY(w.server.configure({{QStringLiteral("stall"), QJsonObject{{QStringLiteral("check"), 8000}}}}));
        const int analyses = ActionQueue::analyses().limit();
        const auto restore = qScopeGuard([analyses] { ActionQueue::analyses().setLimit(analyses); });
        ActionQueue::analyses().setLimit(5);
        window->onAddFilesMsg(w.videos(QStringLiteral("第一章 课程导入.mp4|第二章 基本概念与术语的详细讲解（上）.mp4|"
                                                      "第三章 实验.mov|第四章 复习.mkv|第五章 总结.mp4")
                                           .split(QLatin1Char('|'))));
        QCOMPARE(w.list()->count(), 5);
        // Every probe is done and every check is held: nothing changes the rows any more.
        for (int i = 0; i < 5; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(w.row(i), "lblProgress")->toolTip(),
                                      QStringLiteral("正在分析任务..."), 20000);
        w.row(0)->sendMessage(Status::Waiting, QStringLiteral("等待上传"), 0);
        w.row(1)->sendMessage(Status::Uploading, QStringLiteral("上传原视频"), 45);
        PipelineProgress figures;
        figures.rate = 45;
        figures.bytesDone = 45 << 20;
        figures.bytesTotal = 100 << 20;
        figures.bytesPerSecond = 3.2 * (1 << 20);
        figures.remaining = 83;
        figures.elapsedMs = 12000;
        auto *status = child<ItemTaskStatusWidget>(w.row(1), "wdgTaskStatus");
        status->showFigures(figures);
        w.row(2)->sendMessage(Status::Paused, QStringLiteral("任务已经停止上传"), 0);
        w.row(3)->sendMessage(Status::Failed, QStringLiteral("多次上传重试失败((503)(分片暂不可用))"), 0);
        w.row(4)->sendMessage(Status::Completed, QStringLiteral("任务执行完成"), 0);
        w.button(4, "btnDelete")->setEnabled(false);
        QCoreApplication::processEvents();
        picture = window->grab().toImage();
        QVERIFY(save(picture, "page_list.png"));
        // Row backgrounds: white, and the failure's pale red; the uploading row's bar filled
        // in blue at its start.
        QCOMPARE(colourAt(picture, w.row(0), window, 4, 4), QStringLiteral("#ffffff"));
        const QColor failed = QColor(colourAt(picture, w.row(3), window, 4, 4));
        QVERIFY(failed.red() > failed.blue());
        QCOMPARE(colourAt(picture, child(w.row(1), "progressBar"), window, 6, -1), QStringLiteral("#33a2ef"));
        // Speed and time left are read in full, on a second line when need be, and the text
        // ends before the buttons begin.
        QCOMPARE(status->progressText(), QStringLiteral("正在上传 45% · 3.2 MB/s · 剩余 01:23"));
        const auto *text = child<QLabel>(w.row(1), "lblProgress");
        QVERIFY2(text->text().contains(QStringLiteral("剩余 01:23")), qPrintable(text->text()));
        QVERIFY(text->toolTip().contains(QStringLiteral("已上传 45.0 MB / 100.0 MB")));
        QVERIFY(text->mapTo(w.row(1), text->rect().topRight()).x() < child(w.row(1), "wdgControl")->x());
        // Each button shows its own icon, centred, at any scale.
        for (const char *name : {"btnPause", "btnDelete"})
            QVERIFY2(qAbs(inkMiddle(picture, w.button(1, name), window) - 36) <= 4, name);
    }

    void listPage_rowsChangeOnScreen_controlsStayDrawn()
    {
        QVERIFY(w.server.configure({{QStringLiteral("stall"), QJsonValue::Null}}));
        const QStringList files = w.videos(names("row0.mp4 row1.mp4 row2.mp4"));
        QVERIFY(w.openLoaded());
        QVERIFY(GuiTest::drop(w.page("frmAdd"), files.mid(0, 1)));
        QTRY_COMPARE(w.current(), w.page("frmList"));
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QVERIFY(GuiTest::drop(w.page("frmList"), files.mid(1)));
        QCOMPARE(w.list()->count(), 3);
        QTest::mouseClick(w.button(0, "btnDelete"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w.list()->count(), 2, 20000);

        // From the screen, as a user sees the window with its frame and shadow.
        FrmApp *window = w.window.get();
        const auto picture = [window] { return window->screen()->grabWindow(window->winId()).toImage(); };
        const auto allDrawn = [&] {
            const QImage image = picture();
            for (const char *name :
                 {"lblTip", "lblCurrentCount", "lblMaxCount", "btnAddList", "lblTitleFileName", "lblTitleStatus"}) {
                if (!showsText(image, child(w.page("frmList"), name), window))
                    return false;
            }
            return true;
        };
        const bool drawn = QTest::qWaitFor(allDrawn, 5000);
        QVERIFY(save(picture(), "page_list_changed.png"));
        QVERIFY2(drawn, "a caption, count or column header is blank on the screen");
    }
};

QTEST_MAIN(TestPagesScreenshots)
#include "tst_pagesscreenshots.moc"
