#pragma once
// How the main window lays out its message box and progress bar when its size changes.
// All values are twips (15 twips = 1 pixel at 96 dpi).

#include <QRect>

namespace vekmrk {

struct MainLayout {
    QRect message{1440, 120, 5415, 1215}; // txtMessage
    QRect progress{120, 1440, 6735, 255}; // pbProgress
};

// The window's designed outer size and how much of it borders, title and menu bar take.
constexpr int kMainOuterWidth = 7080;
constexpr int kMainOuterHeight = 2430;
constexpr int kMainClientWidth = 6960;
constexpr int kMainClientHeight = 1740;

// Applies the resize rule for the outer size W x H: the progress bar spans the bottom, the
// message box fills the space right of the logo. A dimension whose formula is not positive
// keeps its current value, so no control ever shrinks below one twip.
MainLayout applyResizeRule(const MainLayout& current, int outerWidth, int outerHeight);

} // namespace vekmrk
