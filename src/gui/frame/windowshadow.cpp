// SPDX-License-Identifier: MIT
#include "gui/frame/windowshadow.h"

#include <QColor>
#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

namespace {

constexpr int BlurRadius = 30;
constexpr qreal CornerRadius = 4;

// A graphics effect on the body repainted the whole body over siblings that were not
// repainted with it whenever a part of the window changed, leaving pages blank. So the
// shadow is rendered once per body size, with Qt's own filter, and the window paints it
// before its children like any background.
class ShadowPainter final : public QObject
{
public:
    explicit ShadowPainter(QWidget *body)
        : QObject(body)
        , m_body(body)
    {
        body->parentWidget()->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_body && watched == m_body->parentWidget()) {
            QPainter painter(m_body->parentWidget());
            painter.drawPixmap(m_body->geometry().topLeft() - QPoint(BlurRadius, BlurRadius),
                               shadowFor(m_body->size()));
        }
        return false;
    }

private:
    const QPixmap &shadowFor(const QSize &size)
    {
        if (m_shadow.isNull() || m_size != size) {
            m_size = size;
            m_shadow = render(size);
        }
        return m_shadow;
    }

    static QPixmap render(const QSize &size)
    {
        QGraphicsScene scene;
        QPainterPath outline;
        outline.addRoundedRect(QRectF(QPointF(0, 0), size), CornerRadius, CornerRadius);
        QGraphicsPathItem *stand = scene.addPath(outline, Qt::NoPen, Qt::white);
        auto *shadow = new QGraphicsDropShadowEffect;
        shadow->setOffset(0, 0);
        shadow->setColor(QColor(QStringLiteral("#444444")));
        shadow->setBlurRadius(BlurRadius);
        stand->setGraphicsEffect(shadow);

        QPixmap pixmap(size + QSize(2 * BlurRadius, 2 * BlurRadius));
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        scene.render(&painter, QRectF(pixmap.rect()),
                     QRectF(-BlurRadius, -BlurRadius, pixmap.width(), pixmap.height()));
        return pixmap;
    }

    QPointer<QWidget> m_body;
    QSize m_size;
    QPixmap m_shadow;
};

} // namespace

void applyWindowShadow(QWidget *body)
{
    new ShadowPainter(body);
}
