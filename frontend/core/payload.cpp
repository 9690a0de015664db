#include "frontend/core/payload.h"

namespace vekmrk {

FilteredPayload filterPayload(const QString& typed) {
    FilteredPayload result;
    const QString upper = typed.toUpper();
    result.text.reserve(upper.size());
    for (const QChar c : upper) {
        if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')) {
            result.text.append(c);
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
    return QStringLiteral("(") + QString::number((payload.size() + 1) / 2) +
           QStringLiteral(" bytes)");
}

} // namespace vekmrk
