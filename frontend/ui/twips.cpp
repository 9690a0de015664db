#include "frontend/ui/twips.h"

#include <QWidget>
#include <cmath>

namespace vekmrk {

int twipsToPixels(int twips) {
    return static_cast<int>(std::lround(twips / 15.0));
}

int pixelsToTwips(int pixels) {
    return pixels * 15;
}

QRect twipsToPixels(const QRect& twips) {
    return {twipsToPixels(twips.left()), twipsToPixels(twips.top()), twipsToPixels(twips.width()),
            twipsToPixels(twips.height())};
}

void placeTwips(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(twipsToPixels(QRect(left, top, width, height)));
}

QFont arialFont(double pointSize, bool bold, bool italic) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

} // namespace vekmrk
