#pragma once
// The text that carries a confirmed dialog's choices to the job runner (`jobOptions`), the
// command line of the started program, and its split into program and arguments.

#include <QString>
#include <QStringList>

namespace vekmrk {

struct EncodeJob {
    float gain = 1.0f;        // 0.3 ... 3.0, written with one decimal
    QString layer = "public"; // "public" or "private"
    int addts = 0;            // 1: the packets carry a time stamp
    QString inFile;
    QString payload; // hexadecimal digits, passed on unquoted
    QString outFile;
};

struct DecodeJob {
    QString layer = "public"; // "public", "private" or another owner's layer code, unquoted
    QString inFile;
    bool speedSearch = false; // also search speed changes up to kSpeedSearchPercent
};

// The speed change, in percent, that the decode dialog's speed search covers.
inline constexpr int kSpeedSearchPercent = 1;

enum class JobProgram { Encoder, Decoder };

// The gain as stored and passed on: one decimal, a point as separator ("0.0" pattern).
QString formatGain(float gain);

// " -gain G -layer L -addts A \"in\" PAYLOAD \"out\"": always begins with a space.
QString encodeJobOptions(const EncodeJob& job);
// " -layer L \"in\"", with " -speed 1" before it when the speed search is on: always begins
// with a space.
QString decodeJobOptions(const DecodeJob& job);

// "vekmrkenc" / "vekmrkdec", with the platform's executable suffix (".exe" on Windows).
QString programFileName(JobProgram program);

// The program's full path: the folder, the native separator and the program file.
QString programPath(const QString& programFolder, JobProgram program);

// The command line as one string: the program folder, the native separator, the program file,
// " -logfile ", the quoted log path, one space and `jobOptions`. The program path is not quoted.
QString jobCommandLine(const QString& programFolder, JobProgram program, const QString& logFileName,
                       const QString& jobOptions);

struct SplitCommand {
    QString program; // empty when the command line holds no word
    QStringList arguments;
};

// Splits a command line into words: blanks separate words, double quotes group blanks into one
// word, three consecutive quotes stand for one literal quote.
SplitCommand splitCommandLine(const QString& commandLine);

// Splits a job's command line whose first word is `program`: the program path is not quoted on
// the line, so a folder with blanks ("Program Files") is taken whole rather than split there.
SplitCommand splitJobCommandLine(const QString& commandLine, const QString& program);

} // namespace vekmrk
