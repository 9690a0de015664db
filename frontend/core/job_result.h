#pragma once
// What a finished job's report means to a user: after an encode, how many of the written
// packets can be read back; after a decode, the payloads found, as rows that can be copied.

#include <QList>
#include <QString>
#include <optional>

namespace vekmrk {

// The encoder's read-back line "N of M packets readable" (from -verify).
struct ReadBack {
    int readable = 0;
    int written = 0;
};

// The read-back count in an encode report; empty when the report holds none.
std::optional<ReadBack> parseReadBack(const QString& report);

// "Warning: ..." and CR LF when few of the written packets can be read back (none, or fewer
// than half) and the report carries no warning of the encoder's own that says why; else empty.
QString readBackWarning(const QString& report);

// One line of the decoder's summary: "(xPAYLOAD) - N instance(s)", then, when its packets
// carried time stamps, " - (T mm:ss) through (T mm:ss)".
struct FoundPayload {
    QString payload; // hexadecimal digits, without the "x"
    int instances = 0;
    QString firstTime; // "mm:ss"; empty without time stamps
    QString lastTime;
};

// Every summary line of a decode report, in the report's order.
QList<FoundPayload> parseFoundPayloads(const QString& report);

// "mm:ss - mm:ss", or empty without time stamps.
QString timeRange(const FoundPayload& found);

// The rows as text for the clipboard: payload, instances and time range separated by tabs, one
// row per line.
QString foundPayloadsText(const QList<FoundPayload>& rows);

} // namespace vekmrk
