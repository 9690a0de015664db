#pragma once
// The payload box's rule: upper-case hexadecimal digits only, and the byte count it shows.

#include <QString>

namespace vekmrk {

struct FilteredPayload {
    QString text;         // the hexadecimal digits kept, in order, upper case
    bool dropped = false; // true when any character was removed (the box then beeps)
};

// Upper-cases the text and keeps only 0-9 and A-F.
FilteredPayload filterPayload(const QString& typed);

// "(n bytes)" with n = (digits + 1) / 2, since the encoder pads an odd count with a final 0;
// empty for an empty payload.
QString payloadByteCount(const QString& payload);

} // namespace vekmrk
