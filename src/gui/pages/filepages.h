// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

class QDragEnterEvent;
class QLabel;
class QWidget;
class Schema;

// The rules the empty file page and the task list share: how many files may still be
// added, the drop and the file dialog, and the caption above the files. Which files are
// videos is MediaProbe's.
namespace FilePages {

// Module and parent names as "module - parent", "module - " or "parent".
QString caption(const Schema &schema);
// Shows the caption elided to 500 pixels, the whole text in the tool tip.
void showCaption(QLabel *label, const QString &caption);
// The limit as the counter shows it: "--" for no limit.
QString limitText(int maxUploadNum);
// The counter "2 / 3": its numbers, and the sentence an assistive tool reads for all of it.
void showCount(QLabel *current, QLabel *max, int count, int maxUploadNum);

// Accepts a drag that carries URLs.
void acceptDrag(QDragEnterEvent *event);
// The dropped local paths that may be added, in drop order: videos only, at most
// maxUploadNum - current of them (any number with -1). `invalid` tells whether something
// that is not a video was dropped.
QStringList droppedPaths(const QList<QUrl> &urls, int maxUploadNum, int current, bool *invalid);
// Tells the user that something dropped was not a video.
void showInvalidDrop();

// Runs the file dialog; several files may be chosen unless the limit is 1. Empty when
// cancelled.
QStringList chooseFiles(int maxUploadNum);
// Tells the user that more files were chosen than the limit allows.
void showTooMany(int maxUploadNum);

} // namespace FilePages
