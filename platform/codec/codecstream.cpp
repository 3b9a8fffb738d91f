#include "codecstream.h"

#include <algorithm>
#include <cstring>

void OutputQueue::Reserve(size_t bytes) {
    Compact();
    if (m_bytes.size() < m_size + bytes) {
        m_bytes.resize(m_size + bytes);
    }
}

void OutputQueue::Compact() {
    if (m_head == 0) {
        return;
    }
    const size_t live = m_size - m_head;
    if (live > 0) {
        std::memmove(m_bytes.data(), m_bytes.data() + m_head, live);
    }
    m_head = 0;
    m_size = live;
}

uint8_t* OutputQueue::Extend(size_t bytes) {
    if (m_limit != 0 && Size() + bytes > m_limit) {
        // Keep the newest audio: drop whole blocks from the front.
        size_t drop = Size() + bytes - m_limit;
        drop = (drop + m_block - 1) / m_block * m_block;
        m_head += std::min(drop, Size());
    }
    if (m_bytes.size() - m_size < bytes) {
        Compact();
    }
    if (m_bytes.size() - m_size < bytes) {
        m_bytes.resize(m_size + bytes);
    }
    return m_bytes.data() + m_size;
}

void OutputQueue::Append(const uint8_t* data, size_t bytes) {
    uint8_t* p = Extend(bytes);
    std::memcpy(p, data, bytes);
    Commit(bytes);
}

void OutputQueue::AppendZeros(size_t bytes) {
    uint8_t* p = Extend(bytes);
    std::memset(p, 0, bytes);
    Commit(bytes);
}

uint32_t OutputQueue::Take(uint8_t* dst, uint32_t capacity) {
    if (Size() < m_hold) {
        return 0;
    }
    m_hold = 0;
    size_t n = std::min<size_t>(Size(), capacity);
    n -= n % m_block;
    if (n > 0) {
        std::memcpy(dst, m_bytes.data() + m_head, n);
        m_head += n;
    }
    if (m_head == m_size) {
        m_head = m_size = 0;
    }
    return static_cast<uint32_t>(n);
}

void CodecStream::Reserve(uint32_t srcBytes, uint32_t dstBytes) {
    m_output.Reserve(std::max<size_t>(DstBoundFor(srcBytes), dstBytes));
}
