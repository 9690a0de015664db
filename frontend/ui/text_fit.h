#pragma once
// Windows designed in twips for Arial keep their designed geometry as long as every text fits
// its control. A wider font (DejaVu Sans, which Linux systems without Arial-metric fonts give
// for Arial) or larger text would be cut off: the window then grows as a whole, every position
// and size by the same factor, so the designed arrangement stays and nothing overlaps.

#include <QRect>
#include <QSize>

class QWidget;

namespace vekmrk {

// The room a control's text needs (its indicator and frame included); empty for controls
// without text. Word-wrapped labels need their width unchanged and the height of their lines.
QSize textRoom(const QWidget* control);

// The factor (1 or more) by which the window's geometry must grow for every text to fit.
double textGrowth(const QWidget* window);

// Grows every control's geometry and the window's fixed size by textGrowth, and keeps the
// factor in the window's property "textGrowth".
void growWithText(QWidget* window);

// A designed rectangle (pixels) as growWithText moves it: each edge times `growth`, rounded up.
QRect grownRect(const QRect& designed, double growth);

} // namespace vekmrk
