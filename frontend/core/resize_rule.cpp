#include "frontend/core/resize_rule.h"

namespace vekmrk {

MainLayout applyResizeRule(const MainLayout& current, int outerWidth, int outerHeight) {
    MainLayout next = current;
    if (outerWidth - 345 >= 1) {
        next.progress.setWidth(outerWidth - 345);
    }
    next.progress.moveLeft(120);
    if (outerHeight - 990 > 0) {
        next.progress.moveTop(outerHeight - 990);
    }
    if (outerWidth - 1665 > 0) {
        next.message.setWidth(outerWidth - 1665);
    }
    next.message.moveLeft(1440);
    if (outerHeight - 1215 > 0) {
        next.message.setHeight(outerHeight - 1215);
    }
    return next;
}

} // namespace vekmrk
