#pragma once
// Shared ground for the main-view tests: one QApplication per process, a private registry
// per test, generated WAV files, and scripted answers for every message box and dialog.

#include <gtest/gtest.h>

#include <QDialog>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "support/loopbackreceiver.h"
#include "support/tempdir.h"

class QApplication;

namespace viewtest {

// The process's application, made by the test main.
void SetApp(QApplication* app);
QApplication& App();

// Runs the event loop until pred() holds or timeoutMs passes; returns pred().
bool WaitFor(const std::function<bool()>& pred, int timeoutMs);

using testsupport::TempDir;

// Writes a 16-bit mono PCM WAV file holding a sine of the given peak amplitude.
bool WriteSineWav(const std::string& path, int sampleRate, double seconds, double amplitude,
                  double frequency = 440.0);

struct ShownMessage {
    QString text;
    QString caption;
    unsigned type;
};

// Answers the seam's message boxes and dialogs from queues, in order, and records every
// message box shown. Anything unexpected fails the test and is cancelled.
class ScriptedUi {
public:
    ScriptedUi();
    ~ScriptedUi();
    ScriptedUi(const ScriptedUi&) = delete;
    ScriptedUi& operator=(const ScriptedUi&) = delete;

    void AnswerMessage(int button) { m_answers.push_back(button); }
    void AnswerModal(std::function<int(QDialog&)> answer) { m_modals.push_back(std::move(answer)); }
    template <class Dialog>
    void AnswerDialog(std::function<int(Dialog&)> answer) {
        AnswerModal([answer = std::move(answer)](QDialog& dialog) {
            auto* typed = dynamic_cast<Dialog*>(&dialog);
            if (typed == nullptr) {
                ADD_FAILURE() << "unexpected dialog " << dialog.metaObject()->className();
                return static_cast<int>(QDialog::Rejected);
            }
            return answer(*typed);
        });
    }

    const std::vector<ShownMessage>& Messages() const { return m_messages; }
    bool Idle() const { return m_answers.empty() && m_modals.empty(); }

private:
    std::deque<int> m_answers;
    std::deque<std::function<int(QDialog&)>> m_modals;
    std::vector<ShownMessage> m_messages;
};

// Points the registry at private folders for the whole process; call before Qt starts
// (fontconfig reads the same variables, and re-reading its configuration leaks).
void UsePrivateConfigFolders();

// An empty registry for the life of the object: both roots' files are removed at either end.
class TempRegistry {
public:
    TempRegistry() { Clear(); }
    ~TempRegistry() { Clear(); }
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

private:
    static void Clear();
};

using RtpReceiver = testsupport::LoopbackReceiver;

// Mean absolute level of a mu-law RTP datagram's payload (after its 12-byte header).
double PayloadLevel(const std::vector<uint8_t>& datagram);

}  // namespace viewtest
