#include "frontend/core/owner_name.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>
#include <cstdint>

namespace vekmrk {

namespace {

// The separators of the programs' configuration text: a name holding one is cut apart there.
constexpr const char* kConfigSeparators = " [](),\t\n";
// Only the last 31 bytes of a text change its 31-bit hash.
constexpr qsizetype kOwnerNameMaxBytes = 31;
constexpr uint32_t kCheckMaskKey = 0x36D9;

// The private layer's chip waveform seed: each byte, as a signed value, added to twice the
// hash, kept to 31 bits.
uint32_t ownerNameHash(const QByteArray& name) {
    uint32_t h = 0;
    for (const char c : name) {
        const auto byte = static_cast<int32_t>(static_cast<int8_t>(c));
        h = (static_cast<uint32_t>(byte) + 2u * h) & 0x7FFFFFFFu;
    }
    return h;
}

} // namespace

QStringList ownerNameFolders(const QString& programFolder, const QString& systemFolder) {
    const QString program = QDir::cleanPath(QDir::fromNativeSeparators(programFolder));
    QStringList folders{program};
#ifdef Q_OS_WIN
    folders.append(QDir::cleanPath(QDir::fromNativeSeparators(systemFolder)));
#else
    const QString relative = QDir::cleanPath(program + QStringLiteral("/../etc/vekmrk"));
    folders.append(relative);
    const QString system = QDir::cleanPath(QDir::fromNativeSeparators(systemFolder));
    if (system != relative) {
        folders.append(system);
    }
#endif
    return folders;
}

QByteArray ownerNameOfFile(const QByteArray& contents) {
    QByteArray line = contents.left(contents.indexOf('\n'));
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    if (line.startsWith("\xEF\xBB\xBF")) {
        line.remove(0, 3);
    }
    return line;
}

OwnerNameSource findOwnerName(const QByteArray& environment, const QStringList& folders,
                              const std::function<QByteArray(const QString&)>& readFile) {
    OwnerNameSource source;
    if (!environment.isEmpty()) {
        source.name = environment;
        source.fromEnvironment = true;
        return source;
    }
    for (int i = 0; i < folders.size(); ++i) {
        const QString file = folders.at(i) + u'/' + QString::fromLatin1(kOwnerFile);
        const QByteArray name = ownerNameOfFile(readFile(file));
        if (!name.isEmpty()) {
            source.name = name;
            source.file = file;
            source.folder = i;
            return source;
        }
    }
    return source;
}

QString ownerNameProblem(const QByteArray& name, const QString& systemFolder) {
    if (name.isEmpty()) {
        const QString system = QDir::toNativeSeparators(systemFolder);
#ifdef Q_OS_WIN
        const QString places = QStringLiteral(" or in ") + system + QStringLiteral("\\.");
#else
        const QString places = QStringLiteral(", in ../etc/vekmrk/ from their folder, or in ") +
                               system + QStringLiteral("/.");
#endif
        return QStringLiteral("No owner name is configured for the private layer: set the "
                              "environment variable VEKMRK_OWNER, or write the name on the first "
                              "line of vekmrk-owner.txt beside the programs") +
               places;
    }
    if (name.startsWith("\xFF\xFE") || name.startsWith("\xFE\xFF")) {
        return QStringLiteral("The owner name is UTF-16 text: save vekmrk-owner.txt as UTF-8, or "
                              "as plain ASCII.");
    }
    if (name.contains('\0')) {
        return QStringLiteral("The owner name holds NUL bytes (is vekmrk-owner.txt saved as "
                              "UTF-16?): save it as UTF-8, or as plain ASCII.");
    }
    const QString quoted =
        QStringLiteral("The owner name \"") + QString::fromUtf8(name) + QStringLiteral("\"");
    for (const char* c = kConfigSeparators; *c != '\0'; ++c) {
        if (name.contains(*c)) {
            return quoted + QStringLiteral(" holds a blank, tab, line feed or one of [ ] ( ) , "
                                           "which cut a layer code apart: nobody else could read "
                                           "this private layer. Choose an owner name without "
                                           "them.");
        }
    }
    if (name == "public" || name == "private") {
        return quoted + QStringLiteral(" is a value of -layer itself: nobody could give it as a "
                                       "layer code. Choose another owner name.");
    }
    if (name.startsWith('-')) {
        return quoted + QStringLiteral(" starts with \"-\" and would read as an option: nobody "
                                       "could give it as a layer code. Choose an owner name that "
                                       "starts otherwise.");
    }
    if (name.size() > kOwnerNameMaxBytes) {
        const QByteArray ending = name.right(kOwnerNameMaxBytes);
        return quoted + QStringLiteral(" is %1 bytes long, but only its last 31 bytes key the "
                                       "layer, so every name that ends in them shares it. Choose "
                                       "an owner name of at most 31 bytes (\"%2\" keys the same "
                                       "layer as this one).")
                            .arg(name.size())
                            .arg(QString::fromUtf8(ending));
    }
    const uint32_t seed = ownerNameHash(name);
    if (seed == 0) {
        return quoted + QStringLiteral(" hashes to 0, the public layer's chip waveform: anybody "
                                       "could find its marks. Choose another owner name.");
    }
    if (((seed ^ kCheckMaskKey) & 0xFFFFu) == 0) {
        return quoted + QStringLiteral(" gives the check mask 0, so the public layer would read "
                                       "its private marks. Choose another owner name.");
    }
    return {};
}

QString ownerNameWriteFolder(const QStringList& folders, const OwnerNameSource& current,
                             const std::function<bool(const QString&)>& writable) {
    for (int i = 0; i < folders.size(); ++i) {
        if (current.folder >= 0 && current.folder < i) {
            // The name found there comes first for the programs and cannot be replaced.
            return {};
        }
        if (writable(folders.at(i))) {
            return folders.at(i);
        }
    }
    return {};
}

bool ownerFolderWritable(const QString& folder) {
    QString existing = folder;
    while (!QFileInfo(existing).exists()) {
        const QString up = QFileInfo(existing).path();
        if (up == existing) {
            return false;
        }
        existing = up;
    }
    if (!QFileInfo(existing).isDir()) {
        return false;
    }
    QTemporaryFile probe(existing + QStringLiteral("/.vekmrkwin-XXXXXX"));
    return probe.open();
}

QString writeOwnerName(const QString& folder, const QByteArray& name) {
    if (!QDir().mkpath(folder)) {
        return QStringLiteral("The folder %1 could not be created.")
            .arg(QDir::toNativeSeparators(folder));
    }
    QSaveFile file(folder + u'/' + QString::fromLatin1(kOwnerFile));
    if (!file.open(QIODevice::WriteOnly) || file.write(name + '\n') != name.size() + 1 ||
        !file.commit()) {
        return QStringLiteral("%1 could not be written: %2")
            .arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
    }
    return {};
}

} // namespace vekmrk
