#include "convert/conversionsession.h"

#include <system_error>

ConversionSession::ConversionSession(MediaConverter& converter, ConvertDoneSink& sink)
    : m_converter(converter), m_sink(sink) {}

ConversionSession::~ConversionSession() {
    Shutdown();
}

bool ConversionSession::Start() {
    if (m_worker.joinable()) {
        return false;
    }
    try {
        m_worker = std::thread([this] { m_converter.ConversionWorker(m_sink); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void ConversionSession::Wait() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void ConversionSession::Shutdown() {
    if (m_worker.joinable()) {
        m_converter.RequestStop();
        m_worker.join();
    }
}
