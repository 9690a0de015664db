#include "frontend/core/help_file.h"

#include <QDir>

namespace vekmrk {

QStringList helpFileCandidates(const QString& programFolder, const QString& relativeDataFolder) {
    const QString name = QString::fromLatin1(kHelpFileName);
    const QDir program(programFolder);
    return {QDir::cleanPath(program.filePath(name)),
            QDir::cleanPath(program.filePath(relativeDataFolder + QLatin1Char('/') + name))};
}

QString findHelpFile(const QStringList& candidates,
                     const std::function<bool(const QString&)>& isFile) {
    for (const QString& candidate : candidates) {
        if (isFile(candidate)) {
            return candidate;
        }
    }
    return {};
}

} // namespace vekmrk
