// SPDX-License-Identifier: MIT
#include "windowshadow.h"

#include <QColor>
#include <QGraphicsDropShadowEffect>
#include <QWidget>

void applyWindowShadow(QWidget *body)
{
    auto *shadow = new QGraphicsDropShadowEffect(body);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor(QStringLiteral("#444444")));
    shadow->setBlurRadius(30);
    body->setGraphicsEffect(shadow);
}
