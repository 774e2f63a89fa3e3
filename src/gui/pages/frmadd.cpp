// SPDX-License-Identifier: MIT
#include "gui/pages/frmadd.h"
#include "ui_frmadd.h"

#include "core/session/manager.h"
#include "core/session/schema.h"
#include "gui/pages/filepages.h"
#include "gui/pages/frmapp.h"
#include "gui/toolkit/accessibility.h"

#include <QDebug>
#include <QDropEvent>
#include <QMimeData>

FrmAdd::FrmAdd(QWidget *parent)
    : QWidget(parent)
    , NuvWidgetUiBehavior(this)
    , m_ui(new Ui::FrmAdd)
{
    m_ui->setupUi(this);
    setAcceptDrops(true);
    Accessibility::setMerged(m_ui->label_2);
    Accessibility::setMerged(m_ui->lblMaxCount);
}

FrmAdd::~FrmAdd()
{
    delete m_ui;
}

void FrmAdd::setApp(FrmApp *app)
{
    m_app = app;
}

int FrmAdd::maxUploadNum() const
{
    const QSharedPointer<Schema> schema = m_app ? m_app->manager()->schema() : nullptr;
    return schema ? schema->maxUploadNum() : 1;
}

int FrmAdd::currentCount() const
{
    const auto pipelines = m_app ? m_app->manager()->uploadManagers() : nullptr;
    return pipelines ? int(pipelines->size()) : 0;
}

void FrmAdd::onLoad()
{
    qDebug("FrmAdd::onLoad");
    FilePages::showCount(m_ui->lblCurrentCount, m_ui->lblMaxCount, 0, maxUploadNum());
    const QSharedPointer<Schema> schema = m_app ? m_app->manager()->schema() : nullptr;
    FilePages::showCaption(m_ui->lblTip, schema ? FilePages::caption(*schema) : QString());
}

void FrmAdd::on_btnAdd_clicked()
{
    const int limit = maxUploadNum();
    const QStringList files = FilePages::chooseFiles(limit);
    if (files.isEmpty())
        return;
    if (limit != -1 && files.size() > limit) {
        FilePages::showTooMany(limit);
        return;
    }
    emit addFilesMsg(files);
}

void FrmAdd::dragEnterEvent(QDragEnterEvent *event)
{
    FilePages::acceptDrag(event);
}

void FrmAdd::dropEvent(QDropEvent *event)
{
    if (!event->mimeData()->hasUrls())
        return;
    bool invalid = false;
    const QStringList files =
        FilePages::droppedPaths(event->mimeData()->urls(), maxUploadNum(), currentCount(), &invalid);
    if (invalid)
        FilePages::showInvalidDrop();
    if (!files.isEmpty())
        emit addFilesMsg(files);
}
