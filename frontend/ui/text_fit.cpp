#include "frontend/ui/text_fit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace vekmrk {

namespace {

// A window never grows by more than this: beyond it the screen is the limit anyway.
constexpr double kMaxGrowth = 3.0;

// Room around a push button's caption and a group box's title.
constexpr int kButtonPadding = 8;
constexpr int kTitlePadding = 16;

// The controls placed in the window or in its frames (not the parts Qt builds inside them).
QList<QWidget*> placedControls(QWidget* window) {
    QList<QWidget*> placed;
    for (QWidget* control : window->findChildren<QWidget*>()) {
        const QWidget* parent = control->parentWidget();
        if (!control->isWindow() &&
            (parent == window || qobject_cast<const QGroupBox*>(parent) != nullptr)) {
            placed.append(control);
        }
    }
    return placed;
}

} // namespace

QSize textRoom(const QWidget* control) {
    const QFontMetrics metrics = control->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        if (label->text().isEmpty()) {
            return {};
        }
        if (label->wordWrap()) {
            return {label->width(), label->heightForWidth(label->width())};
        }
        return label->sizeHint();
    }
    const bool radio = qobject_cast<const QRadioButton*>(control) != nullptr;
    if (radio || qobject_cast<const QCheckBox*>(control) != nullptr) {
        // The indicator, the gap after it and the text (the style's size hint adds a margin
        // for the focus frame that the text does not need).
        const auto* button = static_cast<const QAbstractButton*>(control);
        if (button->text().isEmpty()) {
            return {};
        }
        const QStyle* style = button->style();
        const int indicator = style->pixelMetric(radio ? QStyle::PM_ExclusiveIndicatorWidth
                                                       : QStyle::PM_IndicatorWidth,
                                                 nullptr, button) +
                              style->pixelMetric(radio ? QStyle::PM_RadioButtonLabelSpacing
                                                       : QStyle::PM_CheckBoxLabelSpacing,
                                                 nullptr, button);
        return {indicator + metrics.horizontalAdvance(button->text()), metrics.height()};
    }
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        return {metrics.horizontalAdvance(button->text()) + kButtonPadding, metrics.height() + 2};
    }
    if (const auto* frame = qobject_cast<const QGroupBox*>(control)) {
        return frame->title().isEmpty()
                   ? QSize()
                   : QSize(metrics.horizontalAdvance(frame->title()) + kTitlePadding,
                           metrics.height());
    }
    if (qobject_cast<const QLineEdit*>(control) != nullptr) {
        return {0, metrics.height() + 4};
    }
    return {};
}

double textGrowth(const QWidget* window) {
    double growth = 1.0;
    for (QWidget* control : placedControls(const_cast<QWidget*>(window))) {
        const auto* label = qobject_cast<const QLabel*>(control);
        if (label != nullptr && label->wordWrap() && !label->text().isEmpty() &&
            control->width() > 0 && control->height() > 0) {
            // A wider label wraps into fewer lines: the least growth at which its lines fit.
            constexpr double kStep = 0.01;
            double fits = 1.0;
            while (fits < kMaxGrowth &&
                   label->heightForWidth(static_cast<int>(std::ceil(control->width() * fits))) >
                       control->height() * fits) {
                fits += kStep;
            }
            growth = std::max(growth, fits);
            continue;
        }
        const QSize room = textRoom(control);
        if (room.width() > control->width() && control->width() > 0) {
            growth = std::max(growth, static_cast<double>(room.width()) / control->width());
        }
        if (room.height() > control->height() && control->height() > 0) {
            growth = std::max(growth, static_cast<double>(room.height()) / control->height());
        }
    }
    return std::min(growth, kMaxGrowth);
}

QRect grownRect(const QRect& designed, double growth) {
    const auto scaled = [growth](int value) { return static_cast<int>(std::ceil(value * growth)); };
    // Edges are scaled rather than sizes, so neighbours that touched still touch.
    const int left = scaled(designed.left());
    const int top = scaled(designed.top());
    return {left, top, scaled(designed.left() + designed.width()) - left,
            scaled(designed.top() + designed.height()) - top};
}

void growWithText(QWidget* window) {
    const double growth = textGrowth(window);
    window->setProperty("textGrowth", growth);
    if (growth <= 1.0) {
        return;
    }
    for (QWidget* control : placedControls(window)) {
        control->setGeometry(grownRect(control->geometry(), growth));
    }
    const QSize size = grownRect(QRect(QPoint(0, 0), window->size()), growth).size();
    if (window->minimumSize() == window->maximumSize()) {
        window->setFixedSize(size);
    } else {
        window->resize(size);
    }
}

} // namespace vekmrk
