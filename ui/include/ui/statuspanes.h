#pragma once
// The main view's two panes for the frame's status bar: the volume and the loop mode. The
// view hands them to the frame, whose status bar then holds them. UI thread only.

#include <QPointer>

class QLabel;
class QWidget;

class StatusPanes {
public:
    // Makes both panes as children of `owner` until the frame takes them.
    void Create(QWidget* owner);
    QLabel* Volume() const;
    QLabel* Loop() const;
    // "Volume: +3 dB", "Loop: on"; nothing before Create.
    void Show(int volumeDb, bool loopMode);

private:
    QPointer<QLabel> m_volume;
    QPointer<QLabel> m_loop;
};
