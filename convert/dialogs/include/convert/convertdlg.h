#pragma once
// The modal dialog "File format conversion": the operator picks an MP3 or WAV input (its
// format, rate, channels and duration are shown), picks or types the output path, and
// converts into a mu-law, 8000 Hz, mono WAV file on a worker thread while a progress bar
// follows. The worker reports through posted WM_CONVERT_DONE events. UI thread only, except
// PostConvertDone, which the worker calls.
//
// Closing the dialog while a conversion runs stops the worker at its next pass and waits
// for it; the partial output is closed as a valid WAV file. A file dropped on the dialog
// is taken as the input, as if chosen with Browse.

#include <QDialog>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>

#include "convert/conversionsession.h"
#include "convert/mediaconverter.h"

class QDragEnterEvent;
class QDropEvent;
class QEvent;
class QKeyEvent;
class QLineEdit;
class QProgressBar;
class QPushButton;

class CConvertDlg : public QDialog, public ConvertDoneSink {
    Q_OBJECT

public:
    explicit CConvertDlg(QWidget* parent = nullptr);
    ~CConvertDlg() override;

    // Browse (button 1027): choose the input file and describe it.
    void OnBrowse();
    // Takes `path` as the input: describes it and proposes the output. An input that cannot
    // be opened clears the output and disables Convert until a usable input is chosen.
    void SetInput(const QString& path);
    // Save to (button 1031): choose the output folder.
    void OnSaveTo();
    // Convert (button 1030): check the output, open the chain, start the worker.
    void OnConvert();
    // The Enter key: Convert when it is enabled, otherwise nothing; never closes.
    void OnOK();
    // WM_CONVERT_DONE: wParam 0 sets the progress to lParam seconds; any other ends.
    intptr_t OnConvertDone(uintptr_t wParam, intptr_t lParam);

    // Members <-> controls: true reads the controls, false shows the members.
    bool UpdateData(bool saveAndValidate = true);

    void PostConvertDone(uintptr_t wParam, intptr_t lParam) override;
    void done(int result) override;

    bool IsConverting() const { return m_conversion.IsRunning(); }

    // The members, for the view and for tests.
    const QString& InputPath() const { return m_strInputPath; }
    const QString& FormatName() const { return m_strFormatName; }
    int32_t SampleRate() const { return m_nSampleRate; }
    int32_t Duration() const { return m_nDuration; }
    const QString& OutputPath() const { return m_strOutputPath; }
    const QString& OutputFolder() const { return m_strOutputFolder; }
    const QString& ChannelsText() const { return m_strChannels; }

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void BuildControls();
    void CreateControls();  // the edits, the progress bar and the buttons, named for tests
    void LayOutControls();  // the input and output boxes and the button row
    // Stops a running worker at its next pass and waits for it; drops its pending messages.
    void StopWorker();

    MediaConverter m_converter;
    std::unique_ptr<uint8_t[]> m_outputFormat;  // FormatRecordSize() bytes, zero-filled
    QString m_strInputPath;
    QString m_strFormatName;
    int32_t m_nSampleRate = 0;
    int32_t m_nDuration = 0;
    QString m_strOutputPath;
    QString m_strOutputFolder;  // ends with a separator once set
    QString m_strChannels;
    bool m_bInputRefused = false;  // the input field shows "File format not supported"
    QString m_strConvertingTo;     // the running conversion's output, named by "Done"

    QLineEdit* m_editInput = nullptr;     // 1026
    QLineEdit* m_editFormat = nullptr;    // 1018
    QLineEdit* m_editRate = nullptr;      // 1014
    QLineEdit* m_editDuration = nullptr;  // 1034
    QLineEdit* m_editOutput = nullptr;    // 1028
    QProgressBar* m_progress = nullptr;   // 1006
    QLineEdit* m_editChannels = nullptr;  // 1015
    QPushButton* m_btnBrowse = nullptr;   // 1027
    QPushButton* m_btnSaveTo = nullptr;   // 1031
    QPushButton* m_btnConvert = nullptr;  // 1030
    QPushButton* m_btnCancel = nullptr;   // 2

    // Counts the messages the worker has built. Qt's queue already orders each event's
    // construction before its delivery, but inside a library the race detector cannot
    // see; the worker's release after building an event and the UI thread's acquire before
    // reading one state that order where it can.
    std::atomic<uint32_t> m_postedMessages{0};
    // The worker; declared last, so that it is gone before what it reads and reports to.
    ConversionSession m_conversion{m_converter, *this};
};
