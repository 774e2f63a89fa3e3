// SPDX-License-Identifier: MIT
// Renders the window frame, the message box and the images with the real style sheet
// on a real X server (Xvfb) and keeps the pictures, so the look can be checked by eye.
#include "gui/frame/basetitlebar.h"
#include "gui/frame/basewindow.h"
#include "gui/frame/frmmessagebox.h"
#include "gui/toolkit/suspendedscrollbar.h"
#include "gui/toolkit/suspendedscrollbarlistwidget.h"
#include "guitest.h"

#include <QDir>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTest>

using GuiTest::ModalDriver;

namespace {

QLabel *label(const QString &name, const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

// A push button drawn in a chosen state, so that one picture shows all three slices of
// a strip without a mouse over each of them.
class StateButton final : public QPushButton
{
public:
    StateButton(int state, QWidget *parent)
        : QPushButton(parent)
        , m_state(state)
    {
        setDown(state == 2);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        if (m_state == 1)
            option.state |= QStyle::State_MouseOver;
        painter.drawControl(QStyle::CE_PushButton, option);
    }

private:
    int m_state = 0;
};

QPushButton *iconButton(const QString &name, int state, QWidget *parent)
{
    auto *b = new StateButton(state, parent);
    b->setObjectName(name);
    b->setProperty("shownState", state);
    return b;
}

int darkPixels(const QImage &image, const QRect &area)
{
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 200 && qGray(c.rgb()) < 128)
                ++dark;
        }
    }
    return dark;
}

} // namespace

class TestScreenshots final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void messageBox_data();
    void messageBox();
    void baseWindow();
    void imageGallery();

private:
    bool save(const QImage &image, const QString &name);
    QString m_folder;
};

void TestScreenshots::initTestCase()
{
    QVERIFY(GuiTest::applyStyleSheet());
    m_folder = qEnvironmentVariable("NUV_SCREENSHOT_DIR", QDir::current().filePath(QStringLiteral("screenshots")));
    QVERIFY(QDir().mkpath(m_folder));
    qInfo().noquote() << "platform" << QGuiApplication::platformName() << "screenshots in" << m_folder;
    // Without a CJK font every Chinese text would come out as boxes.
    QVERIFY(!QFontDatabase().families(QFontDatabase::SimplifiedChinese).isEmpty());
}

bool TestScreenshots::save(const QImage &image, const QString &name)
{
    return GuiTest::onDesktop(image).save(QDir(m_folder).filePath(name));
}

void TestScreenshots::messageBox_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QStringList>("custom");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("colour");

    QTest::newRow("information") << QStringLiteral("messagebox_information.png") << QStringLiteral("提示")
                                 << QStringLiteral("请正确添加视频文件") << int(QMessageBox::Ok) << QStringList()
                                 << QStringLiteral("btnOk") << QStringLiteral("#1baafb");
    QTest::newRow("question") << QStringLiteral("messagebox_question.png") << QStringLiteral("提示")
                              << QStringLiteral("有任务还未执行完成,确认退出上传工具吗?")
                              << int(QMessageBox::Ok | QMessageBox::Cancel) << QStringList()
                              << QStringLiteral("btnCancel") << QStringLiteral("#eeeeee");
    QTest::newRow("version") << QStringLiteral("messagebox_version.png") << QStringLiteral("版本提示")
                             << QStringLiteral("发现有新版本(1.0.0.20)，是否进行下载安装！")
                             << int(QMessageBox::Yes | QMessageBox::No) << QStringList() << QStringLiteral("btnNo")
                             << QStringLiteral("#1baafb");
    QTest::newRow("custom") << QStringLiteral("messagebox_custom.png") << QStringLiteral("提示")
                            << QStringLiteral("获取上传文件信息失败,请确认文件为有效视频(-1)") << 0
                            << QStringList{QStringLiteral("取消"), QStringLiteral("复制日志")} << QStringLiteral("btn0")
                            << QStringLiteral("#eeeeee");
    QTest::newRow("long") << QStringLiteral("messagebox_long.png") << QStringLiteral("提示")
                          << QStringLiteral("上传失败：服务器返回了错误的应答，文件的分片没有被接受。请检查网络连接是否"
                                            "正常，确认上传指令仍然有效，然后重新添加文件再试一次。如果问题仍然存在，"
                                            "请复制日志并联系平台管理员。")
                          << int(QMessageBox::Ok) << QStringList() << QStringLiteral("btnOk")
                          << QStringLiteral("#1baafb");
}

void TestScreenshots::messageBox()
{
    QFETCH(QString, file);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, buttons);
    QFETCH(QStringList, custom);
    QFETCH(QString, button);
    QFETCH(QString, colour);

    QImage picture;
    QRect titleArea;
    QRect messageArea;
    QPoint buttonEdge;
    ModalDriver driver([&](QWidget *box) {
        QVERIFY(QTest::qWaitForWindowExposed(box));
        picture = box->grab().toImage();
        const QLabel *titleLabel = box->findChild<QLabel *>(QStringLiteral("lblDialogTitle"));
        titleArea = QRect(titleLabel->mapTo(box, QPoint(0, 0)), titleLabel->size());
        const QLabel *messageLabel = box->findChild<QLabel *>(QStringLiteral("lblMessage"));
        messageArea = QRect(messageLabel->mapTo(box, QPoint(0, 0)), messageLabel->size());
        // Left of the text, clear of the rounded corners.
        const QPushButton *shown = box->findChild<QPushButton *>(button);
        buttonEdge = shown->mapTo(box, QPoint(5, shown->height() / 2));
        QTest::keyClick(box, Qt::Key_Escape);
    });
    if (custom.isEmpty()) {
        FrmMessageBox::information(nullptr, title, text, QMessageBox::StandardButtons(buttons));
    } else {
        FrmMessageBox::information(nullptr, title, text, custom.value(0), custom.value(1), custom.value(2), 1, 0);
    }
    QCOMPARE(driver.seen(), 1);
    QVERIFY(!picture.isNull());
    QVERIFY(save(picture, file));

    // Transparent outside the shadow, shadow around the body, an opaque white body with
    // the title in dark glyphs.
    QCOMPARE(picture.pixelColor(0, 0).alpha(), 0);
    QVERIFY(picture.pixelColor(18, picture.height() / 2).alpha() > 0);
    QCOMPARE(picture.pixelColor(30, picture.height() - 30), QColor(Qt::white));
    QVERIFY(darkPixels(picture, titleArea) > 20);
    QVERIFY(!picture.copy(messageArea).allGray());
    // Buttons are blue, a cancel button grey.
    QCOMPARE(picture.pixelColor(buttonEdge).name(), colour);
}

void TestScreenshots::baseWindow()
{
    BaseWindow window;
    window.resize(1008, 646);
    window.setWindowTitle(QStringLiteral("视频上传工具"));
    window.setVersion(QStringLiteral(" v:1.0.0.19"));

    // Content where the main window puts its pages, below the title bar: the counter, the
    // floating scroll bar over a list, and the three looks of a push button.
    auto *content = new QWidget(&window);
    content->setGeometry(24, 78, 960, 544);
    auto *layout = new QGridLayout(content);
    layout->setContentsMargins(30, 24, 30, 30);
    layout->addWidget(label(QStringLiteral("lblTip"), QStringLiteral("课程视频 - 第一章"), content), 0, 0);
    layout->addWidget(label(QStringLiteral("lblCurrentCount"), QStringLiteral("3 / 8"), content), 0, 1);
    auto *list = new SuspendedScrollBarListWidget(content);
    for (int i = 0; i < 30; ++i)
        list->addItem(QStringLiteral("素材%1.mp4").arg(i + 1));
    layout->addWidget(list, 1, 0, 1, 5);
    auto *disabled = new QPushButton(QStringLiteral("启动上传"), content);
    disabled->setEnabled(false);
    layout->addWidget(new QPushButton(QStringLiteral("取消"), content), 2, 2);
    layout->addWidget(disabled, 2, 3);
    layout->addWidget(new QPushButton(QStringLiteral("确认"), content), 2, 4);
    layout->setColumnStretch(1, 1);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(list, &enter);
    QTRY_VERIFY(list->suspendedScrollBar()->isVisible());

    const QImage picture = window.grab().toImage();
    QVERIFY(save(picture, QStringLiteral("basewindow.png")));
    QCOMPARE(picture.size(), QSize(1008, 646));
    QCOMPARE(picture.pixelColor(0, 0).alpha(), 0);
    QVERIFY(picture.pixelColor(16, 300).alpha() > 0);
    QCOMPARE(picture.pixelColor(40, 600), QColor(Qt::white));
    const QLabel *title = window.titleBar()->findChild<QLabel *>(QStringLiteral("lblTitle"));
    QVERIFY(darkPixels(picture, QRect(title->mapTo(&window, QPoint(0, 0)), title->size())) > 40);
}

void TestScreenshots::imageGallery()
{
    QWidget gallery;
    gallery.setObjectName(QStringLiteral("gallery"));
    gallery.setStyleSheet(QStringLiteral("QWidget#gallery { background: #ffffff; }"));
    auto *grid = new QGridLayout(&gallery);
    grid->setSpacing(12);
    const QStringList states{QStringLiteral("normal"), QStringLiteral("hover"), QStringLiteral("pressed")};
    for (int s = 0; s < 3; ++s)
        grid->addWidget(label(QString(), states.at(s), &gallery), 0, s + 1, Qt::AlignCenter);

    int row = 1;
    for (const char *name : {"btnUpload", "btnPause", "btnDelete"}) {
        grid->addWidget(label(QString(), QString::fromLatin1(name), &gallery), row, 0);
        for (int s = 0; s < 3; ++s)
            grid->addWidget(iconButton(QString::fromLatin1(name), s, &gallery), row, s + 1, Qt::AlignCenter);
        ++row;
    }
    for (const char *name : {"btnMini", "btnMax", "btnRestore", "btnClose", "btnDialogClose"}) {
        grid->addWidget(label(QString(), QString::fromLatin1(name), &gallery), row, 0);
        for (int s = 0; s < 3; ++s)
            grid->addWidget(iconButton(QString::fromLatin1(name), s, &gallery), row, s + 1, Qt::AlignCenter);
        ++row;
    }
    auto *icons = new QHBoxLayout;
    for (const char *image : {"images/video_icon", "images/complete", "images/warring", "form/error", "form/close"}) {
        auto *l = new QLabel(&gallery);
        l->setPixmap(QPixmap(QStringLiteral(":/assets/%1.png").arg(QString::fromLatin1(image))));
        QVERIFY2(!l->pixmap(Qt::ReturnByValue).isNull(), image);
        icons->addWidget(l);
    }
    auto *add = new QPushButton(QStringLiteral("添加文件"), &gallery);
    add->setIcon(QIcon(QStringLiteral(":/assets/images/add.png")));
    icons->addWidget(add);
    grid->addLayout(icons, row++, 0, 1, 4);
    auto *illustrations = new QHBoxLayout;
    for (const char *image : {"images/loading", "images/empty_add"}) {
        auto *l = new QLabel(&gallery);
        l->setPixmap(QPixmap(QStringLiteral(":/assets/%1.png").arg(QString::fromLatin1(image))));
        QVERIFY2(!l->pixmap(Qt::ReturnByValue).isNull(), image);
        illustrations->addWidget(l);
    }
    grid->addLayout(illustrations, row++, 0, 1, 4);

    gallery.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gallery));
    const QImage picture = gallery.grab().toImage();
    QVERIFY(save(picture, QStringLiteral("gallery.png")));
    // The hovered close button is the red slice of its strip.
    const QPushButton *hoveredClose = nullptr;
    for (const QPushButton *b : gallery.findChildren<QPushButton *>(QStringLiteral("btnClose"))) {
        if (b->property("shownState").toInt() == 1)
            hoveredClose = b;
    }
    QVERIFY(hoveredClose);
    const QPoint corner = hoveredClose->mapTo(&gallery, QPoint(14, 14));
    QCOMPARE(picture.pixelColor(corner).name(), QStringLiteral("#ea5325"));
}

QTEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
