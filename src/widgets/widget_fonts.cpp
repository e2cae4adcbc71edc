#include "widgets/widget_fonts.h"

#include <QFontMetrics>
#include <mutex>

QFont arialFont(int cellHeight, bool bold)
{
    static std::once_flag substituted;
    std::call_once(substituted, [] { QFont::insertSubstitution("Arial", "Liberation Sans"); });

    QFont f("Arial");
    f.setStyleHint(QFont::SansSerif);  // swiss family
    f.setBold(bold);
    if (cellHeight <= 1) {
        f.setPixelSize(1);
        return f;
    }
    // The em is smaller than the cell; start from the cell and shrink until
    // ascent + descent fits.
    int px = cellHeight;
    f.setPixelSize(px);
    while (px > 1 && QFontMetrics(f).height() > cellHeight)
        f.setPixelSize(--px);
    return f;
}
