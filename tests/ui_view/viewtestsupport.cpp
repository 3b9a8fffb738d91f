#include "viewtestsupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>

#include "ui/kit/uiseam.h"

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

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sonvexview.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!m_path.empty()) {
        std::filesystem::remove_all(m_path, ignored);
    }
}

namespace {

void PutLe(std::ofstream& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

}  // namespace

bool WriteSineWav(const std::string& path, int sampleRate, double seconds, double amplitude,
                  double frequency) {
    std::ofstream out(path, std::ios::binary);
    const auto samples = static_cast<uint32_t>(sampleRate * seconds);
    const uint32_t dataBytes = samples * 2;
    out.write("RIFF", 4);
    PutLe(out, 36 + dataBytes, 4);
    out.write("WAVEfmt ", 8);
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);  // PCM
    PutLe(out, 1, 2);  // mono
    PutLe(out, static_cast<uint32_t>(sampleRate), 4);
    PutLe(out, static_cast<uint32_t>(sampleRate) * 2, 4);
    PutLe(out, 2, 2);
    PutLe(out, 16, 2);
    out.write("data", 4);
    PutLe(out, dataBytes, 4);
    for (uint32_t i = 0; i < samples; ++i) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * frequency * i / sampleRate);
        PutLe(out, static_cast<uint32_t>(static_cast<int16_t>(std::lround(v))) & 0xFFFF, 2);
    }
    return static_cast<bool>(out);
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

RtpReceiver::RtpReceiver() {
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return;
    }
    int size = 4 << 20;
    setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    socklen_t length = sizeof address;
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
}

RtpReceiver::~RtpReceiver() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

std::vector<std::vector<uint8_t>> RtpReceiver::Drain() {
    std::vector<std::vector<uint8_t>> datagrams;
    uint8_t buffer[9000];
    for (;;) {
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            break;
        }
        datagrams.emplace_back(buffer, buffer + n);
    }
    return datagrams;
}

int MuLawToLinear(uint8_t value) {
    const int u = ~value & 0xFF;
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return (u & 0x80) != 0 ? 0x84 - t : t - 0x84;
}

double PayloadLevel(const std::vector<uint8_t>& datagram) {
    if (datagram.size() <= 12) {
        return 0;
    }
    double sum = 0;
    for (size_t i = 12; i < datagram.size(); ++i) {
        sum += std::abs(MuLawToLinear(datagram[i]));
    }
    return sum / static_cast<double>(datagram.size() - 12);
}

}  // namespace viewtest
