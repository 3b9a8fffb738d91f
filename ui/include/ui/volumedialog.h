#pragma once
// "Set the volume": a slider from -9 to +9 dB and a read-only box that follows it. The view
// sets m_nPositionDb before showing it and reads it after OK. UI thread only.

#include <QDialog>

class QLineEdit;
class QSlider;

class CVolumeDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMinDb = -9;
    static constexpr int kMaxDb = 9;

    explicit CVolumeDialog(QWidget* parent = nullptr);

    QSlider* Slider() const { return m_slider; }
    QLineEdit* ValueEdit() const { return m_valueEdit; }

    // Members -> controls, done once before the dialog is first shown. Idempotent.
    void InitDialog();
    // OK reads the controls into the members first.
    void accept() override;

    int m_nShownDb = 0;
    int m_nPositionDb = 0;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // save true: controls -> members; false: members -> controls.
    void UpdateData(bool save);
    void OnSliderMoved();

    QSlider* m_slider = nullptr;
    QLineEdit* m_valueEdit = nullptr;
    bool m_initialised = false;
};
