// Draws the application icon and writes AppIcon.png and AppIcon.icns into the
// directory given as the first argument and, when a second is given, the PNGs of
// an Apple icon set (AppIcon.iconset/icon_16x16.png ... icon_512x512@2x.png) there,
// from which iconutil makes the Mac bundle's icns. Run by the build; needs no display.
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

QImage drawIcon(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(side / 1024.0, side / 1024.0);

    // Rounded tile, dusk gradient.
    QLinearGradient sky(0, 100, 0, 924);
    sky.setColorAt(0.0, QColor(38, 74, 92));
    sky.setColorAt(1.0, QColor(40, 28, 72));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(100, 100, 824, 824), 185, 185);

    // Moor: two low hills, clipped to the tile.
    QPainterPath tile;
    tile.addRoundedRect(QRectF(100, 100, 824, 824), 185, 185);
    p.setClipPath(tile);
    auto hill = [&p](qreal left, qreal c1y, qreal c2y, qreal right, const QColor& colour) {
        QPainterPath path;
        path.moveTo(100, left);
        path.cubicTo(350, c1y, 600, c2y, 924, right);
        path.lineTo(924, 924);
        path.lineTo(100, 924);
        p.setBrush(colour);
        p.drawPath(path);
    };
    hill(760, 640, 700, 650, QColor(58, 44, 96));
    hill(850, 760, 820, 790, QColor(232, 170, 74));

    // Quill: a curved vane with a shaft.
    QPainterPath vane;
    vane.moveTo(330, 770);
    vane.cubicTo(360, 520, 520, 300, 760, 210);
    vane.cubicTo(700, 420, 560, 620, 330, 770);
    p.setBrush(QColor(245, 240, 228));
    p.drawPath(vane);
    p.setPen(QPen(QColor(40, 28, 72), 14, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(330, 770), QPointF(700, 280));
    return image;
}

QByteArray png(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void appendBigEndian(QByteArray& out, quint32 value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.append(char((value >> shift) & 0xff));
}

// An icns container of PNG-encoded entries (ic08 256 px, ic09 512 px, ic10 1024 px).
QByteArray icns() {
    QByteArray body;
    for (const auto& [type, side] : {std::pair{"ic08", 256}, std::pair{"ic09", 512}, std::pair{"ic10", 1024}}) {
        const QByteArray data = png(drawIcon(side));
        body.append(type, 4);
        appendBigEndian(body, quint32(data.size() + 8));
        body.append(data);
    }
    QByteArray out("icns", 4);
    appendBigEndian(out, quint32(body.size() + 8));
    out.append(body);
    return out;
}

bool write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

}  // namespace

// The ten images iconutil expects in an icon set: each point size at 1x and 2x.
bool writeIconSet(const QString& dir) {
    for (int points : {16, 32, 128, 256, 512}) {
        const QString base = dir + QStringLiteral("/icon_%1x%1").arg(points);
        if (!write(base + ".png", png(drawIcon(points))) || !write(base + "@2x.png", png(drawIcon(2 * points))))
            return false;
    }
    return true;
}

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR [ICONSET_DIR]\n", argv[0]);
        return 2;
    }
    if (argc == 3 && !writeIconSet(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write the icon set into %s\n", argv[2]);
        return 1;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    // The PNG is what the window shows where "icns" cannot be read: 64 points,
    // so 128 pixels serve a 2x screen, and decoding it at every start costs a
    // sixteenth of a 512-pixel image's time before the first frame.
    if (!write(dir + "/AppIcon.png", png(drawIcon(128))) || !write(dir + "/AppIcon.icns", icns())) {
        std::fprintf(stderr, "cannot write the icon into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
