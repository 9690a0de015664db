#pragma once
// Reading of the progress log file that a running job rewrites: a status code on the first line,
// free text on the lines after it. The writer replaces the file while we read it, so the reader
// copes with an empty or partly written file.

#include <QByteArray>
#include <QString>
#include <optional>

namespace vekmrk {

enum class JobState { Running, Done, Failed };

struct LogReport {
    int code = 0; // the status code
    JobState state = JobState::Running;
    QString text; // every line after the status line, each followed by CR LF
};

// The status code: the number in the first four characters of the status line (leading blanks
// skipped, an optional sign, digits up to the first other character; no digit reads as 0).
int parseStatusCode(const QString& statusLine);

// Running for 0 ... 999, Done for 1000 and above, Failed below 0.
JobState stateOfCode(int code);

// Lines end at CR LF, at a lone CR or at a lone LF. Empty when the file is empty (the writer has
// just truncated it): nothing is to change this time.
std::optional<LogReport> parseLogReport(const QByteArray& contents);

// The reason for a failure in the program's own words: the last lines (at most three) of its
// error output, without its banner and without lines `shown` holds already; each line ends
// with CR LF; empty when nothing is left.
QString failureReason(const QByteArray& errorOutput, const QString& shown);

// "The job failed with error code N." and CR LF.
QString failureCodeLine(int code);

// What the message box shows for a report: "CRUNCHING... Please wait", "DONE", or "ERROR" with
// the error code in words and the `reason` lines, each line ending with CR LF, then the
// report's text.
QString reportMessage(const LogReport& report, const QString& reason = {});

// The progress bar's value for a running report: the percentage, kept within 0 ... 100 (the last
// short second of a file gives figures above 100).
int reportProgress(const LogReport& report);

} // namespace vekmrk
