#pragma once
// Finding and opening the help: the compiled help file "qsvhelp.chm" in the folder that holds
// the executable, or, where the desktop has nothing that opens such a file, the HTML pages
// beside it (help/index.html). An installed program finds both in the data folder instead
// (share/sonvex/help, reached from the executable's folder). UI thread only.

#include <QString>

namespace helpfile {

inline QString HelpFileName() {
    return QStringLiteral("qsvhelp.chm");
}

// The compiled help file for the executable in appDir, whatever the current directory is:
// the one beside it when there, else the installed one when there, else the one beside it.
QString CompiledHelpPath(const QString& appDir);
// The first HTML page of the help, found the same way.
QString HtmlHelpPath(const QString& appDir);
// The file to hand to the desktop: the compiled help when a viewer for it is known, else the
// HTML index when it exists, else the compiled help anyway (the launch result is not shown).
QString ChooseHelpTarget(const QString& appDir, bool compiledViewerKnown);
// Asks the desktop's MIME defaults whether some application opens compiled help files.
bool DesktopOpensCompiledHelp();
// Opens the help from appDir; falls back to the HTML when the desktop refuses the compiled
// file. False when nothing could be launched.
bool OpenHelp(const QString& appDir);

}  // namespace helpfile
