// SPDX-License-Identifier: MIT
#include "gui/pages/filepages.h"

#include "core/media/mediaprobe.h"
#include "core/session/schema.h"
#include "gui/frame/frmmessagebox.h"
#include "gui/toolkit/helpers.h"

#include <QDebug>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMimeData>

namespace FilePages {

namespace {
constexpr int CaptionWidth = 500;
}

QString caption(const Schema &schema)
{
    QString text;
    ifNotEmpty(schema.parentName(), [&] { text = schema.parentName(); });
    ifNotEmpty(schema.moduleName(), [&] { text = schema.moduleName() + QStringLiteral(" - ") + text; });
    return text;
}

void showCaption(QLabel *label, const QString &caption)
{
    label->setText(QFontMetrics(label->font()).elidedText(caption, Qt::ElideRight, CaptionWidth));
    label->setToolTip(caption);
}

QString limitText(int maxUploadNum)
{
    return maxUploadNum == -1 ? QStringLiteral("--") : QString::number(maxUploadNum);
}

void showCount(QLabel *current, QLabel *max, int count, int maxUploadNum)
{
    current->setText(QString::number(count));
    max->setText(limitText(maxUploadNum));
    current->setAccessibleName(maxUploadNum == -1 ? QStringLiteral("已添加 %1 个，数量不限").arg(count)
                                                  : QStringLiteral("已添加 %1 个，最多 %2 个").arg(count).arg(maxUploadNum));
}

void acceptDrag(QDragEnterEvent *event)
{
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    qDebug().noquote() << event->mimeData()->formats().join(QLatin1Char(','));
    event->acceptProposedAction();
}

QStringList droppedPaths(const QList<QUrl> &urls, int maxUploadNum, int current, bool *invalid)
{
    const int allowed = maxUploadNum - current;
    QStringList accepted;
    *invalid = false;
    for (const QUrl &url : urls) {
        const QString path = url.toLocalFile();
        if (!MediaProbe::hasAcceptedSuffix(path)) {
            *invalid = true;
            continue;
        }
        if (maxUploadNum == -1 || accepted.size() < allowed)
            accepted.append(path);
    }
    return accepted;
}

void showInvalidDrop()
{
    FrmMessageBox::information(nullptr, QStringLiteral("提示"), QStringLiteral("请正确添加视频文件"), QMessageBox::Ok);
}

QStringList chooseFiles(int maxUploadNum)
{
    QFileDialog dialog(nullptr, QStringLiteral("选择上传视频"), QStringLiteral("."), MediaProbe::nameFilter());
    dialog.setViewMode(QFileDialog::Detail);
    dialog.setFileMode(maxUploadNum > 1 || maxUploadNum == -1 ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

void showTooMany(int maxUploadNum)
{
    FrmMessageBox::information(nullptr, QStringLiteral("提示"),
                               QStringLiteral("选择的文件数量，超出当前最大可上传数量(%1)。").arg(maxUploadNum),
                               QMessageBox::Ok);
}

} // namespace FilePages
