#pragma once
// The main view's panes for the frame's status bar: the volume, the loop mode and the level
// meter of a live page. The view hands them to the frame, whose status bar then holds them.
// UI thread only.

#include <QPointer>

class QLabel;
class QProgressBar;
class QWidget;

class StatusPanes {
public:
    // The meter's scale, in dB of full scale; a quieter level shows as the bottom.
    static constexpr int kMeterFloorDb = -60;

    // Makes the panes as children of `owner` until the frame takes them; the meter hidden.
    void Create(QWidget* owner);
    QLabel* Volume() const;
    QLabel* Loop() const;
    QProgressBar* Meter() const;
    // "Volume: +3 dB", "Loop: on"; nothing before Create.
    void Show(int volumeDb, bool loopMode);
    // Shows or hides the meter; shown, it starts at the bottom of its scale.
    void ShowMeter(bool on);
    // A peak of 0 to 1 of full scale, shown in whole dB.
    void ShowLevel(float peak);
    static int LevelDb(float peak);

private:
    QPointer<QLabel> m_volume;
    QPointer<QLabel> m_loop;
    QPointer<QProgressBar> m_meter;
};
