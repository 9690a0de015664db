#pragma once
// The product logo, drawn at the size asked for: a blue tile with a sound wave and the "V" mark.

#include <QPixmap>
#include <QSize>

namespace vekmrk {

QPixmap productLogo(const QSize& size);

} // namespace vekmrk
