#pragma once
// Where the Help command finds vekmrkguiHelp.html: beside the program (a build tree, or a
// folder holding everything), else in the installed data folder, <bin>/../share/vekmrk.

#include <QString>
#include <QStringList>
#include <functional>

namespace vekmrk {

inline constexpr const char* kHelpFileName = "vekmrkguiHelp.html";

// The places searched, in order, for a program in `programFolder`: the folder itself, then the
// data folder given relative to it (`relativeDataFolder`, "../share/vekmrk" for the usual
// layout). Paths are cleaned, with "/" separators.
QStringList helpFileCandidates(const QString& programFolder, const QString& relativeDataFolder);

// The first candidate that `isFile` accepts; empty when there is none.
QString findHelpFile(const QStringList& candidates,
                     const std::function<bool(const QString&)>& isFile);

} // namespace vekmrk
