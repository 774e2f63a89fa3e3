// SPDX-License-Identifier: MIT
#pragma once

class QWidget;

// The soft drop shadow that the frameless windows draw around their white body, inside
// their transparent 24-pixel border. The window paints it beneath its children; the body
// carries no graphics effect.
void applyWindowShadow(QWidget *body);
