#pragma once

#include <QProxyStyle>

// The platform's check box with an outline that stands out from the dark
// window: grey 0.5 on grey 0.11 is a contrast of 4.3:1, where the
// platform's own outline is barely darker than the background.
class OutlinedCheckBoxStyle : public QProxyStyle {
    Q_OBJECT

public:
    // Owned by `owner`, the one check box that uses it.
    explicit OutlinedCheckBoxStyle(QObject* owner);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};
