// SPDX-License-Identifier: MIT
#pragma once

class QWidget;

// What assistive tools (AT-SPI on Linux) see of the window. Qt's own interfaces list every
// child widget, hidden ones included, and know nothing of the task rows that sit on a list
// as item widgets. The interfaces installed here show only what is on screen, expose the
// main window as a frame, the task list as a list whose items are the rows, and each row as
// an item named by its file, described by its status, with its visible buttons as children.
namespace Accessibility {

// Once per process, before the window is built; later calls do nothing.
void install();
// `widget` is read as part of a neighbour's name (the parts of the "2 / 3" counter) and is
// left out of the tree.
void setMerged(QWidget *widget);

} // namespace Accessibility
