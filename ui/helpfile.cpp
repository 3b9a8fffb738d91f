#include "ui/helpfile.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QUrl>

#include "sonvex/buildconfig.h"

namespace helpfile {

namespace {

// The installed help folder as seen from the executable's folder.
QString InstalledHelpDir(const QString& appDir) {
    return QDir::cleanPath(
        QDir(appDir).absoluteFilePath(QString::fromLatin1(sonvex::kHelpDirFromBin)));
}

// A build folder keeps its own help beside the executable; that copy wins over an installed
// one so that a build never shows an older installed help.
QString BesideOrInstalled(const QString& beside, const QString& installed) {
    return !QFileInfo::exists(beside) && QFileInfo::exists(installed) ? installed : beside;
}

}  // namespace

QString CompiledHelpPath(const QString& appDir) {
    return BesideOrInstalled(QDir(appDir).absoluteFilePath(HelpFileName()),
                             QDir(InstalledHelpDir(appDir)).filePath(HelpFileName()));
}

QString HtmlHelpPath(const QString& appDir) {
    return BesideOrInstalled(QDir(appDir).absoluteFilePath(QStringLiteral("help/index.html")),
                             QDir(InstalledHelpDir(appDir)).filePath(QStringLiteral("index.html")));
}

QString ChooseHelpTarget(const QString& appDir, bool compiledViewerKnown) {
    const QString compiled = CompiledHelpPath(appDir);
    if (compiledViewerKnown) {
        return compiled;
    }
    const QString html = HtmlHelpPath(appDir);
    return QFileInfo::exists(html) ? html : compiled;
}

bool DesktopOpensCompiledHelp() {
    const QString mime =
        QMimeDatabase().mimeTypeForFile(HelpFileName(), QMimeDatabase::MatchExtension).name();
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), mime});
    // A missing or hanging helper means "unknown": the HTML is the safe choice.
    if (!query.waitForStarted(2000) || !query.waitForFinished(2000)) {
        query.kill();
        query.waitForFinished(500);
        return false;
    }
    return query.exitCode() == 0 && !query.readAllStandardOutput().trimmed().isEmpty();
}

bool OpenHelp(const QString& appDir) {
    const QString target = ChooseHelpTarget(appDir, DesktopOpensCompiledHelp());
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(target))) {
        return true;
    }
    const QString html = HtmlHelpPath(appDir);
    if (target != html && QFileInfo::exists(html)) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(html));
    }
    return false;
}

}  // namespace helpfile
