#pragma once
// The payload box's rule: upper-case hexadecimal digits only, and the byte count it shows.

#include <QString>

namespace vekmrk {

// The most hexadecimal digits the encoder takes in one payload.
constexpr qsizetype kMaxPayloadDigits = 98;

struct FilteredPayload {
    QString text;         // the hexadecimal digits kept, in order, upper case
    bool dropped = false; // true when any character was removed (the box then beeps)
    int cursor = 0;       // where the typed text's cursor falls in the kept text
};

// Upper-cases the text and keeps only 0-9 and A-F; `cursor` is a position in `typed`.
FilteredPayload filterPayload(const QString& typed, int cursor = 0);

// "(1 byte)", "(n bytes)" with n = (digits + 1) / 2, since the encoder pads an odd count with a
// final 0; empty for an empty payload.
QString payloadByteCount(const QString& payload);

} // namespace vekmrk
