// Paints the application icon (the shapes of io.github.quillmark.Quillmark.svg)
// into the PNG sizes the icon theme wants. Run by hand when the icon changes;
// the build uses the committed PNGs, so it needs no SVG renderer.
//
//   g++ -std=c++20 -fPIC data/icons/paint_icon.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/paint_icon
//   QT_QPA_PLATFORM=offscreen /tmp/paint_icon data/icons
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>

namespace {

// All coordinates on the SVG's 256 grid.
void paintIcon(QPainter& p)
{
    const QPointF centre(128, 128);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#26384a"));
    p.drawEllipse(centre, 120, 120);

    // The code track: 24 slots, one every 15 degrees.
    p.setBrush(QColor("#e9eff5"));
    for (int i = 0; i < 24; ++i) {
        p.save();
        p.translate(centre);
        p.rotate(i * 15);
        p.translate(-centre);
        p.drawRoundedRect(QRectF(123, 20, 10, 22), 1, 1);
        p.restore();
    }

    p.setBrush(QColor("#3d5a73"));
    p.drawEllipse(centre, 78, 78);

    // The gauge's scale: 270 degrees, open at the bottom.
    QPen scale(QColor("#f3a712"), 12, Qt::SolidLine, Qt::RoundCap);
    p.setPen(scale);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(64, 64, 128, 128), -45 * 16, 270 * 16);

    QPen needle(QColor("#e5483b"), 10, Qt::SolidLine, Qt::RoundCap);
    p.setPen(needle);
    p.drawLine(centre, QPointF(163, 77));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#e9eff5"));
    p.drawEllipse(centre, 15, 15);
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    for (int size : {48, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 256.0, size / 256.0);
        paintIcon(p);
        p.end();
        const QString path = QStringLiteral("%1/io.github.quillmark.Quillmark-%2.png").arg(dir).arg(size);
        if (!image.save(path)) {
            std::fprintf(stderr, "paint_icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
