#include "app/OutlinedCheckBoxStyle.h"

#include <QPainter>
#include <QStyleOption>

#include "app/Styling.h"

OutlinedCheckBoxStyle::OutlinedCheckBoxStyle(QObject* owner) {
    setParent(owner);
}

void OutlinedCheckBoxStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                          const QWidget* widget) const {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element != PE_IndicatorCheckBox) return;
    // Keyboard focus keeps the platform's highlighted outline.
    if ((option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange)) return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(styling::grey(0.5), 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRect(option->rect).adjusted(0, 0, -1, -1));
    painter->restore();
}
