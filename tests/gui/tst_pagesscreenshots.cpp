// SPDX-License-Identifier: MIT
// The main window's pages with the real style sheet on a real X server (Xvfb), kept as
// pictures in NUV_SCREENSHOT_DIR so the look can be checked by eye.
#include "guitest.h"

using GuiTest::child;
using GuiTest::names;
using Status = ItemTaskWidgetStatus;

namespace {

// The colour at `x`, `y` of widget's place on the window's picture; a negative `y` is its
// middle row.
QString colourAt(const QImage &picture, const QWidget *widget, const QWidget *window, int x, int y)
{
    return picture.pixelColor(widget->mapTo(window, QPoint(x, y < 0 ? widget->height() / 2 : y))).name();
}

// Dark or coloured glyph pixels inside the widget's place on the window's picture; the
// page's backgrounds and borders are all near white.
bool showsText(const QImage &picture, const QWidget *widget, const QWidget *window)
{
    const QRect place(widget->mapTo(window, QPoint(0, 0)), widget->size());
    for (int y = place.top(); y <= place.bottom(); ++y) {
        for (int x = place.left(); x <= place.right(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (qMin(c.red(), qMin(c.green(), c.blue())) < 170)
                return true;
        }
    }
    return false;
}

} // namespace

class TestPagesScreenshots final : public QObject
{
    Q_OBJECT
    GuiTest::Window w;
    QString m_folder;

    bool save(const QImage &picture, const char *name) const
    {
        return picture.save(QDir(m_folder).filePath(QString::fromLatin1(name)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(w.setUp(), qPrintable(w.server.errorString()));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0.19"));
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

        // The file check is held, so the rows keep the states given to them here.
        QVERIFY(w.server.configure({{QStringLiteral("stall"), QJsonObject{{QStringLiteral("check"), 8000}}}}));
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
        const QColor failed = picture.pixelColor(w.row(3)->mapTo(window, QPoint(4, 4)));
        QVERIFY(failed.red() > failed.blue());
        QCOMPARE(colourAt(picture, child(w.row(1), "progressBar"), window, 6, -1), QStringLiteral("#33a2ef"));
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
