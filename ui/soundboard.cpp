#include "ui/soundboard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <string>
#include <vector>

#include "document/playlistdocument.h"

namespace {

constexpr int kStopWaitMs = 3000;

const QString kEmptyText = QStringLiteral(
    "No announcement playlists yet: give a playlist the role \"announcement\" in Streaming > "
    "Announcements and reports, and it gets a button here.");

// Emergency red, high priority amber; the rest in the theme's colours.
QString BandStyle(int32_t priority) {
    if (priority >= kPriorityEmergency) {
        return QStringLiteral(
            "QPushButton { background: #c62828; color: white; }"
            "QPushButton:checked { background: #7f0000; }");
    }
    if (priority >= kDefaultPagePriority) {
        return QStringLiteral(
            "QPushButton { background: #ef8f00; color: black; }"
            "QPushButton:checked { background: #a35f00; color: white; }");
    }
    return {};
}

// The last line the command line wrote on its error stream.
QString LastLine(const QByteArray& bytes) {
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last().trimmed();
}

}  // namespace

Soundboard::Soundboard(QWidget* parent) : QGroupBox(QStringLiteral("Soundboard"), parent) {
    setObjectName(QStringLiteral("soundboard"));
    m_row = new QHBoxLayout(this);
    m_empty = new QLabel(kEmptyText, this);
    m_empty->setWordWrap(true);
    m_empty->setEnabled(false);
    m_row->addWidget(m_empty, 1);
}

Soundboard::~Soundboard() {
    for (auto& [name, player] : m_players) {
        player->disconnect(this);
        player->terminate();
        if (!player->waitForFinished(kStopWaitMs)) {
            player->kill();
            player->waitForFinished(kStopWaitMs);
        }
    }
}

QString Soundboard::CliPath() {
    const QString given = qEnvironmentVariable("SONVEX_CLI");
    if (!given.isEmpty()) {
        return QFileInfo(given).isExecutable() ? given : QString();
    }
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& candidate : {here.filePath(QStringLiteral("sonvex-cli")),
                                     here.filePath(QStringLiteral("../cli/sonvex-cli"))}) {
        if (QFileInfo(candidate).isExecutable()) {
            return QDir::cleanPath(candidate);
        }
    }
    return QStandardPaths::findExecutable(QStringLiteral("sonvex-cli"));
}

void Soundboard::Reload() {
    std::vector<std::string> names;
    std::map<QString, int32_t> wanted;
    if (PlaylistDocument::StoredPlaylists(names)) {
        for (const std::string& name : names) {
            Playlist playlist;
            if (PlaylistDocument::StoredPlaylist(name, playlist) &&
                playlist.Role == kRoleAnnouncement) {
                wanted[QString::fromStdString(name)] = playlist.EffectivePriority();
            }
        }
    }
    for (auto it = m_buttons.begin(); it != m_buttons.end();) {
        if (wanted.count(it->first) == 0 && m_players.count(it->first) == 0) {
            delete it->second;
            it = m_buttons.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [name, priority] : wanted) {
        QPushButton*& button = m_buttons[name];
        if (button == nullptr) {
            button = new QPushButton(name, this);
            button->setCheckable(true);
            button->setObjectName(QStringLiteral("soundboard:") + name);
            connect(button, &QPushButton::clicked, this,
                    [this, playlist = name] { OnClicked(playlist); });
        }
        button->setStyleSheet(BandStyle(priority));
        button->setToolTip(QStringLiteral("Play \"%1\" once to its destinations (priority %2)")
                               .arg(name)
                               .arg(priority));
    }
    // In the store's order, which is by name.
    for (const auto& [name, button] : m_buttons) {
        m_row->removeWidget(button);
        m_row->insertWidget(m_row->count() - 1, button);
        ShowState(name);
    }
    m_empty->setVisible(m_buttons.empty());
}

QStringList Soundboard::Names() const {
    QStringList names;
    for (const auto& entry : m_buttons) {
        names << entry.first;
    }
    return names;
}

QPushButton* Soundboard::Button(const QString& name) const {
    const auto it = m_buttons.find(name);
    return it == m_buttons.end() ? nullptr : it->second;
}

bool Soundboard::IsPlaying(const QString& name) const {
    return m_players.count(name) != 0;
}

void Soundboard::ShowState(const QString& name) {
    if (QPushButton* button = Button(name)) {
        button->setChecked(IsPlaying(name));
    }
}

void Soundboard::OnClicked(const QString& name) {
    if (const auto it = m_players.find(name); it != m_players.end()) {
        // The stream stops and says goodbye; OnFinished follows.
        it->second->setProperty("stopAsked", true);
        it->second->terminate();
        ShowState(name);
        return;
    }
    const QString cli = CliPath();
    if (cli.isEmpty()) {
        ShowState(name);
        Q_EMIT failed(QStringLiteral("Cannot play \"%1\": the sonvex-cli program is not installed")
                          .arg(name));
        return;
    }
    auto* player = new QProcess(this);
    player->setProgram(cli);
    player->setArguments({QStringLiteral("stream"), QStringLiteral("--"), name});
    player->setStandardOutputFile(QProcess::nullDevice());
    connect(player, &QProcess::finished, this,
            [this, name](int exitCode, QProcess::ExitStatus) { OnFinished(name, exitCode); });
    connect(player, &QProcess::errorOccurred, this, [this, name, player](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            OnFinished(name, -1);
            player->deleteLater();
        }
    });
    m_players[name] = player;
    player->start();
    ShowState(name);
    Q_EMIT announced(QStringLiteral("Announcing: ") + name);
}

void Soundboard::OnFinished(const QString& name, int exitCode) {
    const auto it = m_players.find(name);
    if (it == m_players.end()) {
        return;
    }
    QProcess* player = it->second;
    m_players.erase(it);
    const bool stopped = player->property("stopAsked").toBool();
    const QString why = LastLine(player->readAllStandardError());
    player->deleteLater();
    ShowState(name);
    if (exitCode != 0 && !stopped) {
        Q_EMIT failed(
            QStringLiteral("\"%1\" did not play: %2")
                .arg(name, why.isEmpty() ? QStringLiteral("the command line failed") : why));
    }
}
