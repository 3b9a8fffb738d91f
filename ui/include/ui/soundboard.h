#pragma once
// The soundboard: one button per announcement playlist of the store, which plays it once to
// its destinations. A button runs the command line's `stream NAME`, which asks the paging
// server when one runs (its priorities and ducking then apply) and streams by itself when
// none does; the button stays down while it plays, and a second click stops it. A run that
// fails says why. The buttons follow the store each time it is read again. UI thread only.

#include <QGroupBox>
#include <QString>
#include <QStringList>
#include <map>

class QLabel;
class QProcess;
class QPushButton;
class QHBoxLayout;

class Soundboard : public QGroupBox {
    Q_OBJECT

public:
    explicit Soundboard(QWidget* parent = nullptr);
    // Stops what still plays (a stream that is told to stop says goodbye to its receivers).
    ~Soundboard() override;

    // Rebuilds the buttons from the store; those that play keep playing.
    void Reload();
    // The command line program: $SONVEX_CLI, else sonvex-cli beside this program or in the
    // build tree, else on the PATH; empty when none is found.
    static QString CliPath();

    QStringList Names() const;
    QPushButton* Button(const QString& name) const;
    bool IsPlaying(const QString& name) const;

Q_SIGNALS:
    // A run started ("Announcing: NAME"); failed carries the command line's reason.
    void announced(const QString& text);
    void failed(const QString& text);

private:
    void OnClicked(const QString& name);
    void OnFinished(const QString& name, int exitCode);
    void ShowState(const QString& name);

    QHBoxLayout* m_row = nullptr;
    QLabel* m_empty = nullptr;
    std::map<QString, QPushButton*> m_buttons;
    std::map<QString, QProcess*> m_players;
};
