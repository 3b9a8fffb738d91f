#include "decodeahead.h"

#include <system_error>
#include <utility>

DecodeAhead::DecodeAhead(Decode decode, const uint8_t* decoded, const std::atomic<bool>& stop,
                         bool ahead)
    : m_decode(std::move(decode)), m_decoded(decoded), m_stop(stop) {
    if (!ahead) {
        return;
    }
    try {
        m_helper = std::thread([this] { Run(); });
        m_ahead = true;
    } catch (const std::system_error&) {
        // No thread: Next decodes on the caller's thread.
    }
}

DecodeAhead::~DecodeAhead() {
    Stop();
}

void DecodeAhead::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_canPush.notify_all();
    if (m_helper.joinable()) {
        m_helper.join();
    }
}

bool DecodeAhead::Next(const uint8_t*& data, uint32_t& length) {
    if (m_cancelled) {
        return false;  // written on this thread, by Stop
    }
    if (m_ahead) {
        if (!m_current.empty()) {
            std::lock_guard lock(m_mutex);
            m_free.push_back(std::move(m_current));
        }
        m_current.clear();
        if (!Pop(m_current)) {
            return false;
        }
        data = m_current.data();
        length = static_cast<uint32_t>(m_current.size());
        return true;
    }
    while (!m_stop.load(std::memory_order_relaxed)) {
        const int64_t decoded = m_decode();
        if (decoded < 0) {
            return false;
        }
        if (decoded > 0) {
            data = m_decoded;
            length = static_cast<uint32_t>(decoded);
            return true;
        }
    }
    return false;
}

void DecodeAhead::Run() {
    while (!m_stop.load(std::memory_order_relaxed)) {
        const int64_t decoded = m_decode();
        if (decoded < 0) {
            break;
        }
        if (decoded == 0) {
            continue;
        }
        std::vector<uint8_t> block;
        {
            std::lock_guard lock(m_mutex);
            if (!m_free.empty()) {
                block = std::move(m_free.back());
                m_free.pop_back();
            }
        }
        block.assign(m_decoded, m_decoded + decoded);
        if (!Push(std::move(block))) {
            break;
        }
    }
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_canPop.notify_one();
}

bool DecodeAhead::Push(std::vector<uint8_t> block) {
    std::unique_lock lock(m_mutex);
    m_pushWaiting = true;
    m_canPush.wait(lock, [this] { return m_cancelled || m_queuedBytes < kCapacityBytes; });
    m_pushWaiting = false;
    if (m_cancelled) {
        return false;
    }
    m_queuedBytes += block.size();
    m_blocks.push_back(std::move(block));
    if (m_popWaiting && m_queuedBytes >= kBatchBytes) {
        m_canPop.notify_one();
    }
    return true;
}

bool DecodeAhead::Pop(std::vector<uint8_t>& block) {
    std::unique_lock lock(m_mutex);
    if (m_blocks.empty()) {
        m_popWaiting = true;
        m_canPop.wait(lock, [this] { return m_finished || m_queuedBytes >= kBatchBytes; });
        m_popWaiting = false;
        if (m_blocks.empty()) {
            return false;
        }
    }
    block = std::move(m_blocks.front());
    m_blocks.pop_front();
    m_queuedBytes -= block.size();
    if (m_pushWaiting && m_queuedBytes + kBatchBytes <= kCapacityBytes) {
        m_canPush.notify_one();
    }
    return true;
}
