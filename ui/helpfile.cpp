#include "ui/helpfile.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace {

// A MIME query reads a few small files; one that takes longer is taken as "unknown".
constexpr int kQueryWaitMs = 3000;
// An opener that fails (no application for the type) does so at once; one still running
// after this long is running the viewer in its foreground.
constexpr int kOpenerWaitMs = 5000;

}  // namespace

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

QStringList HelpCandidates(const QString& appDir, bool compiledViewerKnown) {
    QStringList ordered = {CompiledHelpPath(appDir), HtmlHelpPath(appDir)};
    if (!compiledViewerKnown) {
        ordered.swapItemsAt(0, 1);
    }
    QStringList existing;
    for (const QString& file : ordered) {
        if (QFileInfo(file).isFile()) {
            existing << file;
        }
    }
    return existing;
}

}  // namespace helpfile

HelpLauncher::HelpLauncher(QObject* parent)
    : QObject(parent), m_query(QStringLiteral("xdg-mime")), m_opener(QStringLiteral("xdg-open")) {}

HelpLauncher::~HelpLauncher() {
    // A viewer's launcher still running is ended with the application; nothing may call
    // back into this object meanwhile.
    for (QProcess* process : findChildren<QProcess*>()) {
        disconnect(process, nullptr, this, nullptr);
        process->disconnect();
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(1000);
        }
    }
}

void HelpLauncher::SetPrograms(const QString& query, const QString& opener) {
    m_query = query;
    m_opener = opener;
}

bool HelpLauncher::Start(const QString& appDir) {
    if (m_busy) {
        return false;
    }
    m_appDir = appDir;
    m_tried.clear();
    if (helpfile::HelpCandidates(appDir, true).isEmpty()) {
        Q_EMIT Failed(QStringLiteral("The help file %1 was not found.")
                          .arg(helpfile::CompiledHelpPath(appDir)));
        return true;
    }
    m_busy = true;
    const QString mime =
        QMimeDatabase()
            .mimeTypeForFile(helpfile::HelpFileName(), QMimeDatabase::MatchExtension)
            .name();
    Run(m_query, {QStringLiteral("query"), QStringLiteral("default"), mime}, true, kQueryWaitMs,
        [this](QProcess& process, bool ok, bool stillRunning) {
            if (stillRunning) {
                process.kill();
            }
            // A missing, failing or hanging query means "unknown": the HTML goes first.
            OnViewerKnown(ok && !process.readAllStandardOutput().trimmed().isEmpty());
        });
    return true;
}

void HelpLauncher::OnViewerKnown(bool known) {
    m_candidates = helpfile::HelpCandidates(m_appDir, known);
    TryNext();
}

void HelpLauncher::TryNext() {
    if (m_candidates.isEmpty()) {
        Finish();
        const auto html = std::find_if(m_tried.begin(), m_tried.end(), [](const QString& file) {
            return file.endsWith(QStringLiteral(".html"));
        });
        if (html != m_tried.end()) {
            Q_EMIT OpenInside(*html);
            return;
        }
        Q_EMIT Failed(
            QStringLiteral("The help could not be opened: no application on this system opens %1.")
                .arg(m_tried.join(QStringLiteral(" or "))));
        return;
    }
    const QString file = m_candidates.takeFirst();
    m_tried << file;
    Run(m_opener, {file}, false, kOpenerWaitMs,
        [this, file](QProcess&, bool ok, bool stillRunning) {
            if (ok || stillRunning) {
                Finish();
                Q_EMIT Opened(file);
            } else {
                TryNext();
            }
        });
}

void HelpLauncher::Finish() {
    m_busy = false;
    m_candidates.clear();
}

void HelpLauncher::Run(const QString& program, const QStringList& arguments, bool keepOutput,
                       int waitMs,
                       std::function<void(QProcess& process, bool ok, bool stillRunning)> ended) {
    auto* process = new QProcess(this);
    // A viewer that writes to its output must never block on a pipe nobody reads.
    process->setStandardErrorFile(QProcess::nullDevice());
    if (!keepOutput) {
        process->setStandardOutputFile(QProcess::nullDevice());
    }
    auto* wait = new QTimer(process);
    wait->setSingleShot(true);
    auto settled = std::make_shared<bool>(false);
    auto settle = [process, wait, settled, ended](bool ok, bool stillRunning) {
        if (*settled) {
            return;
        }
        *settled = true;
        wait->stop();
        ended(*process, ok, stillRunning);
        if (process->state() == QProcess::NotRunning) {
            process->deleteLater();
        } else {
            connect(process, &QProcess::finished, process, &QObject::deleteLater);
        }
    };
    connect(process, &QProcess::finished, this, [settle](int code, QProcess::ExitStatus status) {
        settle(status == QProcess::NormalExit && code == 0, false);
    });
    connect(process, &QProcess::errorOccurred, this, [settle](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            settle(false, false);
        }
    });
    connect(wait, &QTimer::timeout, this, [settle] { settle(false, true); });
    wait->start(waitMs);
    process->start(program, arguments);
}
