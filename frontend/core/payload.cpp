#include "frontend/core/payload.h"

namespace vekmrk {

FilteredPayload filterPayload(const QString& typed, int cursor) {
    FilteredPayload result;
    const QString upper = typed.toUpper();
    result.text.reserve(upper.size());
    for (qsizetype i = 0; i < upper.size(); ++i) {
        const QChar c = upper.at(i);
        if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')) {
            result.text.append(c);
            if (i < cursor) {
                ++result.cursor;
            }
        } else {
            result.dropped = true;
        }
    }
    return result;
}

QString payloadByteCount(const QString& payload) {
    if (payload.isEmpty()) {
        return {};
    }
    const qsizetype bytes = (payload.size() + 1) / 2;
    return bytes == 1 ? QStringLiteral("(1 byte)")
                      : QStringLiteral("(") + QString::number(bytes) + QStringLiteral(" bytes)");
}

} // namespace vekmrk
