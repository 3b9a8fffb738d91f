#pragma once
// "Page settings": how a live page captures and sends. The capture device (an ALSA PCM name,
// picked from the ones ALSA offers or typed), whether the Page toolbar button is held down to
// talk or clicked once to start and once to end, the codec (G.711 law or G.722) and the packet
// time. They are remembered as values of the application key (PageDevice, PageMode
// "hold"/"toggle", PageLaw "mu"/"a"/"g722", PagePtime in ms); a value missing or not understood
// reads as its default. The view loads them when a page starts and sets the dialog's member before
// showing it. UI thread only.

#include <QDialog>
#include <QString>
#include <cstdint>

#include "codec/waveformat.h"
#include "document/playlistdocument.h"

class PlaylistDocument;
class QComboBox;

struct PageSettings {
    static constexpr uint16_t kMuLaw = WAVE_FORMAT_MULAW;
    static constexpr uint16_t kALaw = WAVE_FORMAT_ALAW;
    static constexpr uint16_t kG722 = WAVE_FORMAT_G722_ADPCM;
    static constexpr uint16_t kLaws[] = {kMuLaw, kALaw, kG722};  // the encoding box's rows
    static constexpr int kPtimes[] = {20, 40, 80, 160};

    QString device = QStringLiteral("default");
    bool toggle = false;  // false: held down to talk
    uint16_t law = kMuLaw;
    int ptimeMs = 20;

    // The remembered settings; defaults for any value missing or not understood.
    static PageSettings Load(PlaylistDocument& document);
    // Writes all four values; false when the store cannot take them.
    bool Save(PlaylistDocument& document) const;
    // The engine's request (until EndPage); false when the device name does not fit.
    bool ToRequest(PlaylistDocument::PageRequest& request) const;
};

class CPageSettingsDlg : public QDialog {
    Q_OBJECT

public:
    explicit CPageSettingsDlg(QWidget* parent = nullptr);

    // Members -> controls; done when shown, and by tests before they press OK.
    void InitDialog();
    // Controls -> members; an empty device name or one too long to be sent is refused with
    // a message and the dialog stays open.
    void accept() override;

    QComboBox* DeviceBox() const { return m_deviceBox; }
    QComboBox* ModeBox() const { return m_modeBox; }
    QComboBox* LawBox() const { return m_lawBox; }
    QComboBox* PtimeBox() const { return m_ptimeBox; }

    PageSettings m_settings;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QComboBox* m_deviceBox = nullptr;
    QComboBox* m_modeBox = nullptr;   // row 0 hold, row 1 toggle
    QComboBox* m_lawBox = nullptr;    // row 0 mu-law, row 1 A-law
    QComboBox* m_ptimeBox = nullptr;  // rows of kPtimes
};
