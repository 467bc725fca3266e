#include "app/Styling.h"

#include <QGuiApplication>

namespace styling {

QFont systemFont(int size, QFont::Weight weight) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(size);
    font.setWeight(weight);
    return font;
}

}  // namespace styling
