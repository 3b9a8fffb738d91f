#pragma once
// Finding and opening the help: the compiled help file "qsvhelp.chm" in the folder that holds
// the executable, or the HTML pages installed beside it (help/index.html); an installed
// program finds both in the data folder instead (share/sonvex/help, reached from the
// executable's folder). Opening never waits on the UI thread: the desktop is asked and
// answers through the event loop, and the operator hears when nothing opened the help.
// UI thread only.

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QProcess;

namespace helpfile {

inline QString HelpFileName() {
    return QStringLiteral("qsvhelp.chm");
}

// The compiled help file for the executable in appDir, whatever the current directory is:
// the one beside it when there, else the installed one when there, else the one beside it.
QString CompiledHelpPath(const QString& appDir);
// The first HTML page of the help, found the same way.
QString HtmlHelpPath(const QString& appDir);
// The help files of appDir that exist, in the order to offer them to the desktop: the
// compiled help first when a viewer for it is known, else the HTML pages first.
QStringList HelpCandidates(const QString& appDir, bool compiledViewerKnown);

}  // namespace helpfile

// Opens the help of a folder in the background: asks the desktop's MIME defaults whether
// something views compiled help files, then hands the candidates one by one to the desktop's
// opener until one is taken. An opener that exits 0, or is still running after a few
// seconds (a viewer started in its foreground), has opened the file; one that fails or
// cannot start passes on to the next candidate.
class HelpLauncher : public QObject {
    Q_OBJECT

public:
    explicit HelpLauncher(QObject* parent = nullptr);
    ~HelpLauncher() override;

    // The programs asked: `query query default <mime type>` prints the application that
    // opens a type; `opener <file>` opens a file. Tests replace them.
    void SetPrograms(const QString& query, const QString& opener);
    // Starts opening the help of appDir and returns at once; Opened or Failed follows.
    // False, and nothing started, while an earlier request is still under way.
    bool Start(const QString& appDir);
    bool IsBusy() const { return m_busy; }

Q_SIGNALS:
    void Opened(const QString& file);
    // Nothing opened the help; `message` says why, for the operator.
    void Failed(const QString& message);
    // No application opens the help, but its HTML pages are there: the program shows them
    // itself.
    void OpenInside(const QString& htmlFile);

private:
    void OnViewerKnown(bool known);
    void TryNext();
    void Finish();
    // Runs program; `ended(ok, stillRunning)` follows once: ok for a normal exit 0,
    // stillRunning when it had not ended after waitMs (it is then left to run). Its output
    // is kept for `ended` to read only when asked for.
    void Run(const QString& program, const QStringList& arguments, bool keepOutput, int waitMs,
             std::function<void(QProcess& process, bool ok, bool stillRunning)> ended);

    QString m_query;
    QString m_opener;
    QString m_appDir;
    QStringList m_candidates;
    QStringList m_tried;
    bool m_busy = false;
};
