#pragma once
// The installation's owner name as the two programs find it (it keys their private layer), and
// where the front end writes a new one. The programs take, in order: the environment variable
// VEKMRK_OWNER when it is not empty, then the first line of vekmrk-owner.txt in their own
// folder, in <their folder>/../etc/vekmrk, and in the system folder (/etc/vekmrk).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace vekmrk {

inline constexpr const char* kOwnerEnvironment = "VEKMRK_OWNER";
inline constexpr const char* kOwnerFile = "vekmrk-owner.txt";

// The folders searched for vekmrk-owner.txt for programs in `programFolder`, in order, cleaned,
// with "/" separators; the system folder is left out when it is the relative one.
QStringList ownerNameFolders(const QString& programFolder, const QString& systemFolder);

// The first line of the file's contents: its LF or CR LF ending and a leading UTF-8
// byte-order mark removed.
QByteArray ownerNameOfFile(const QByteArray& contents);

struct OwnerNameSource {
    QByteArray name; // empty when no place gives one
    QString file;    // the file that gives it; empty for the environment or no name
    int folder = -1; // its index in the folders; -1 for the environment or no name
    bool fromEnvironment = false;
};

// Where the programs find their owner name: `environment` first, then the files that
// `readFile` reads in `folders` (an absent file reads as empty).
OwnerNameSource findOwnerName(const QByteArray& environment, const QStringList& folders,
                              const std::function<QByteArray(const QString&)>& readFile);

// Why the name cannot key a private layer, in the programs' own words; empty when it can.
// `systemFolder` is named in the text for an empty name.
QString ownerNameProblem(const QByteArray& name, const QString& systemFolder);

// The folder where a new owner name is written: the first of `folders` that `writable` accepts
// (a folder that does not exist yet counts when it can be created). Empty when none, or when a
// name in an earlier folder that cannot be written would still win over the new one.
QString ownerNameWriteFolder(const QStringList& folders, const OwnerNameSource& current,
                             const std::function<bool(const QString&)>& writable);

// Writes `name` and a line feed as vekmrk-owner.txt in `folder`, creating the folder when
// needed; the file replaces the old one only once complete. Empty on success, else the reason.
QString writeOwnerName(const QString& folder, const QByteArray& name);

// True when a file can be created in the folder, or in the nearest existing folder above it
// when it does not exist yet.
bool ownerFolderWritable(const QString& folder);

} // namespace vekmrk
