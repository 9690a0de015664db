#pragma once
// Choice of the progress log file of a job: "wmtmp" + three digits + ".txt" in the program's
// folder when only this user can write there, otherwise in a log folder of the user's own.

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>

namespace vekmrk {

// Uniform numbers 0 <= r < 1 from a generator with a fixed seed: every run of the front end
// draws the same sequence.
class LogNumberSource {
public:
    double operator()();

private:
    std::mt19937 m_engine{5489u};
};

// Candidate numbers run from 0 to 1000: r x 1000 rounded half to even.
constexpr int kLogNumberCount = 1001;
int logNumberOfDraw(double r);

// folder + separator + "wmtmp" + n with at least three digits + ".txt", native separators.
QString logFilePath(const QString& folder, int number);

// A log path that names no existing file. Draws random candidates first; after a bounded number
// of draws that all hit existing files it tries every number in turn, and when all 1001 names
// exist it gives up: the result is empty and no job should start.
std::optional<QString> NewLogFileName(const QString& folder, const std::function<double()>& draw,
                                      const std::function<bool(const QString&)>& exists);

// True when a file can be created in the folder (tested by creating and removing one).
bool folderIsWritable(const QString& folder);

// True when the folder is a real folder (no link) of this user that nobody else may write to.
bool folderIsPrivate(const QString& folder);

// `base`/vekmrkwin, created when missing, with access for this user only (0700): nobody else can
// plant a file or a link under a log name there. Empty when it cannot be made so, or when the
// name is taken by a link or by something that is not this user's folder.
std::optional<QString> privateLogFolder(const QString& base);

// The folder for log files: the program's folder when `writable` accepts it, else the
// fallback folder.
QString logFolder(const QString& programFolder, const std::function<bool(const QString&)>& writable,
                  const QString& temporaryFolder);

} // namespace vekmrk
