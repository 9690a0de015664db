#include "frontend/core/job_result.h"

#include <QRegularExpression>

namespace vekmrk {

std::optional<ReadBack> parseReadBack(const QString& report) {
    static const QRegularExpression line(QStringLiteral("^(\\d+) of (\\d+) packets readable$"),
                                         QRegularExpression::MultilineOption);
    // The report's lines end with CR LF; "$" stops before LF only.
    QString text = report;
    text.remove(u'\r');
    const QRegularExpressionMatch match = line.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    return ReadBack{match.captured(1).toInt(), match.captured(2).toInt()};
}

QString readBackWarning(const QString& report) {
    const std::optional<ReadBack> count = parseReadBack(report);
    if (!count || report.contains(QStringLiteral("Warning:"))) {
        return {};
    }
    if (count->readable > 0 && count->readable * 2 >= count->written) {
        return {};
    }
    return QStringLiteral("Warning: few packets can be read back: the audio may be too short, too "
                          "quiet or too band-limited for the mark; a larger gain or a shorter "
                          "payload helps.\r\n");
}

QList<FoundPayload> parseFoundPayloads(const QString& report) {
    static const QRegularExpression line(
        QStringLiteral("^\\(x([0-9A-F]+)\\) - (\\d+) instance\\(s\\)"
                       "(?: - \\(T (\\d+:\\d\\d)\\) through \\(T (\\d+:\\d\\d)\\))?$"),
        QRegularExpression::MultilineOption);
    QString text = report;
    text.remove(u'\r');
    QList<FoundPayload> found;
    for (QRegularExpressionMatchIterator it = line.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        found.append(FoundPayload{match.captured(1), match.captured(2).toInt(), match.captured(3),
                                  match.captured(4)});
    }
    return found;
}

QString timeRange(const FoundPayload& found) {
    if (found.firstTime.isEmpty()) {
        return {};
    }
    return found.firstTime + QStringLiteral(" - ") + found.lastTime;
}

QString foundPayloadsText(const QList<FoundPayload>& rows) {
    QString text;
    for (const FoundPayload& row : rows) {
        text +=
            row.payload + u'\t' + QString::number(row.instances) + u'\t' + timeRange(row) + u'\n';
    }
    return text;
}

} // namespace vekmrk
