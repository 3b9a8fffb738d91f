#include "ui/helpfile.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QUrl>

namespace helpfile {

QString CompiledHelpPath(const QString& appDir) {
    return QDir(appDir).absoluteFilePath(HelpFileName());
}

QString HtmlHelpPath(const QString& appDir) {
    return QDir(appDir).absoluteFilePath(QStringLiteral("help/index.html"));
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
