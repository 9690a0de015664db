#include "frontend/core/log_report.h"

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

QString reportMessage(const LogReport& report) {
    switch (report.state) {
    case JobState::Running:
        return QStringLiteral("CRUNCHING... Please wait") + kCrLf + report.text;
    case JobState::Failed:
        return QStringLiteral("ERROR") + kCrLf + QStringLiteral("Erc: ") +
               QString::number(-report.code) + kCrLf + report.text;
    case JobState::Done:
        break;
    }
    return QStringLiteral("DONE") + kCrLf + report.text;
}

int reportProgress(const LogReport& report) {
    return std::clamp(report.code, 0, 100);
}

} // namespace vekmrk
