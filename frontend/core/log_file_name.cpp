#include "frontend/core/log_file_name.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cmath>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace vekmrk {

namespace {

// Random draws before the exhaustive scan: enough that a folder with a few left-over log files
// never reaches the scan, few enough that a full folder is reported at once.
constexpr int kMaxDraws = 4 * kLogNumberCount;

} // namespace

double LogNumberSource::operator()() {
    return std::generate_canonical<double, 53>(m_engine);
}

int logNumberOfDraw(double r) {
    // std::nearbyint rounds a half to the even neighbour in the default rounding mode.
    return static_cast<int>(std::nearbyint(r * 1000.0));
}

QString logFilePath(const QString& folder, int number) {
    QString path = QDir::toNativeSeparators(folder);
    if (!path.endsWith(QDir::separator())) {
        path += QDir::separator();
    }
    return path + QStringLiteral("wmtmp") +
           QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0')) + QStringLiteral(".txt");
}

std::optional<QString> NewLogFileName(const QString& folder, const std::function<double()>& draw,
                                      const std::function<bool(const QString&)>& exists) {
    for (int i = 0; i < kMaxDraws; ++i) {
        const QString path = logFilePath(folder, logNumberOfDraw(draw()));
        if (!exists(path)) {
            return path;
        }
    }
    for (int number = 0; number < kLogNumberCount; ++number) {
        const QString path = logFilePath(folder, number);
        if (!exists(path)) {
            return path;
        }
    }
    return std::nullopt;
}

bool folderIsWritable(const QString& folder) {
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral("wmprobe_XXXXXX")));
    return probe.open();
}

bool folderIsPrivate(const QString& folder) {
    const QFileInfo info(folder);
    if (!info.isDir() || info.isSymLink()) {
        return false;
    }
#ifdef Q_OS_UNIX
    if (info.ownerId() != ::geteuid()) {
        return false;
    }
    return (info.permissions() & (QFile::WriteGroup | QFile::WriteOther)) == 0;
#else
    // Elsewhere the user's own profile folders are private by their access lists.
    return true;
#endif
}

std::optional<QString> privateLogFolder(const QString& base) {
    if (base.isEmpty()) {
        return std::nullopt;
    }
    const QString folder = QDir(base).filePath(QStringLiteral("vekmrkwin"));
    const QFileInfo info(folder);
    if (!info.exists() && !info.isSymLink() && !QDir().mkpath(folder)) {
        return std::nullopt;
    }
    // A folder of this user whose access someone widened is narrowed again; a link or another
    // user's folder is never used.
    if (!QFileInfo(folder).isDir() || QFileInfo(folder).isSymLink()) {
        return std::nullopt;
    }
#ifdef Q_OS_UNIX
    if (QFileInfo(folder).ownerId() != ::geteuid() ||
        !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadUser | QFile::WriteUser | QFile::ExeUser)) {
        return std::nullopt;
    }
#endif
    return QDir::toNativeSeparators(folder);
}

QString logFolder(const QString& programFolder, const std::function<bool(const QString&)>& writable,
                  const QString& temporaryFolder) {
    return writable(programFolder) ? programFolder : temporaryFolder;
}

} // namespace vekmrk
