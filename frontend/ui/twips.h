#pragma once
// Window geometry is designed in twips (1/1440 inch): 15 twips make one pixel at 96 dpi.

#include <QFont>
#include <QRect>

class QWidget;

namespace vekmrk {

int twipsToPixels(int twips);
int pixelsToTwips(int pixels);
QRect twipsToPixels(const QRect& twips);

// Places the widget at left, top, width, height given in twips, relative to its parent.
void placeTwips(QWidget* widget, int left, int top, int width, int height);

// Arial at the given point size (8.25 pt is the windows' standard font).
QFont arialFont(double pointSize, bool bold = false, bool italic = false);

} // namespace vekmrk
