#include "frontend/core/log_report.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

namespace vekmrk {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QStringList splitLines(const QByteArray& contents) {
    QStringList lines;
    QByteArray line;
    for (qsizetype i = 0; i < contents.size(); ++i) {
        const char c = contents.at(i);
        if (c == '\r' || c == '\n') {
            lines.append(QString::fromLocal8Bit(line));
            line.clear();
            if (c == '\r' && i + 1 < contents.size() && contents.at(i + 1) == '\n') {
                ++i;
            }
        } else {
            line.append(c);
        }
    }
    // A last line without its end is still a line: the writer may not have finished it yet.
    if (!line.isEmpty()) {
        lines.append(QString::fromLocal8Bit(line));
    }
    return lines;
}

} // namespace

int parseStatusCode(const QString& statusLine) {
    const QString head = statusLine.left(4);
    qsizetype i = 0;
    while (i < head.size() && (head.at(i) == u' ' || head.at(i) == u'\t')) {
        ++i;
    }
    bool negative = false;
    if (i < head.size() && (head.at(i) == u'-' || head.at(i) == u'+')) {
        negative = head.at(i) == u'-';
        ++i;
    }
    int value = 0;
    while (i < head.size() && head.at(i) >= u'0' && head.at(i) <= u'9') {
        value = value * 10 + (head.at(i).unicode() - u'0');
        ++i;
    }
    return negative ? -value : value;
}

JobState stateOfCode(int code) {
    if (code < 0) {
        return JobState::Failed;
    }
    return code >= 1000 ? JobState::Done : JobState::Running;
}

std::optional<LogReport> parseLogReport(const QByteArray& contents) {
    const QStringList lines = splitLines(contents);
    if (lines.isEmpty()) {
        return std::nullopt;
    }
    LogReport report;
    report.code = parseStatusCode(lines.first());
    report.state = stateOfCode(report.code);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        report.text += lines.at(i) + kCrLf;
    }
    return report;
}

QString failureReason(const QByteArray& errorOutput, const QString& shown) {
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    const QStringList lines = QString::fromUtf8(errorOutput).split(lineEnd, Qt::SkipEmptyParts);
    QStringList reason;
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        // The banner opens every run; lines the log already holds need not show twice.
        if (trimmed.isEmpty() || trimmed.startsWith(QStringLiteral("Vek Audio Watermark ")) ||
            trimmed.startsWith(QStringLiteral("Copyright ")) || shown.contains(trimmed)) {
            continue;
        }
        reason.append(trimmed);
    }
    constexpr qsizetype kReasonLines = 3;
    while (reason.size() > kReasonLines) {
        reason.removeFirst();
    }
    return reason.isEmpty() ? QString() : reason.join(kCrLf) + kCrLf;
}

QString failureCodeLine(int code) {
    return QStringLiteral("The job failed with error code %1.").arg(code) + kCrLf;
}

QString reportMessage(const LogReport& report, const QString& reason) {
    switch (report.state) {
    case JobState::Running:
        return QStringLiteral("CRUNCHING... Please wait") + kCrLf + report.text;
    case JobState::Failed:
        return QStringLiteral("ERROR") + kCrLf + failureCodeLine(-report.code) + reason +
               report.text;
    case JobState::Done:
        break;
    }
    return QStringLiteral("DONE") + kCrLf + report.text;
}

int reportProgress(const LogReport& report) {
    return std::clamp(report.code, 0, 100);
}

} // namespace vekmrk
