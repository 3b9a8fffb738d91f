#include "viewtestsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "kit/uiseam.h"
#include "support/mulaw.h"
#include "support/wavefile.h"

namespace viewtest {

namespace {
QApplication* g_app = nullptr;
}  // namespace

void SetApp(QApplication* app) {
    g_app = app;
}

QApplication& App() {
    return *g_app;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) {
            return pred();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

bool WriteSineWav(const std::string& path, int sampleRate, double seconds, double amplitude,
                  double frequency) {
    const auto rate = static_cast<uint32_t>(sampleRate);
    const auto frames = static_cast<uint32_t>(sampleRate * seconds);
    return testsupport::WriteWave(path, 1, 1, rate, 16,
                                  testsupport::SinePcm16(frames, 1, rate, frequency, amplitude));
}

ScriptedUi::ScriptedUi() {
    uiseam::SetMessageHandler([this](const QString& text, const QString& caption, unsigned type) {
        m_messages.push_back({text, caption, type});
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected message box: " << text.toStdString();
            return (type & 0xF) == uiseam::MB_YESNO ? uiseam::IDNO : uiseam::IDOK;
        }
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    });
    uiseam::SetModalHandler([this](QDialog& dialog) {
        if (m_modals.empty()) {
            ADD_FAILURE() << "unexpected dialog " << dialog.metaObject()->className();
            return static_cast<int>(QDialog::Rejected);
        }
        auto answer = std::move(m_modals.front());
        m_modals.pop_front();
        return answer(dialog);
    });
}

ScriptedUi::~ScriptedUi() {
    uiseam::SetMessageHandler({});
    uiseam::SetModalHandler({});
}

void UsePrivateConfigFolders() {
    static TempDir home;
    static TempDir machine;
    setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
    setenv("XDG_CONFIG_DIRS", machine.Path().c_str(), 1);
}

void TempRegistry::Clear() {
    std::error_code ignored;
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"}) {
        const char* dir = std::getenv(variable);
        if (dir != nullptr && *dir != '\0') {
            std::filesystem::remove_all(std::filesystem::path(dir) / "sonvex", ignored);
        }
    }
}

double PayloadLevel(const std::vector<uint8_t>& datagram) {
    if (datagram.size() <= 12) {
        return 0;
    }
    double sum = 0;
    for (size_t i = 12; i < datagram.size(); ++i) {
        sum += std::abs(testsupport::MulawToLinear(datagram[i]));
    }
    return sum / static_cast<double>(datagram.size() - 12);
}

}  // namespace viewtest
