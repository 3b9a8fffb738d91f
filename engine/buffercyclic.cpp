#include "engine/buffercyclic.h"

#include <cstring>

BufferCyclic::BufferCyclic(uint32_t capacity)
    : m_data(new uint8_t[capacity]), m_capacity(capacity) {
    Reset();
}

BufferCyclic::~BufferCyclic() {
    delete[] m_data;
}

void BufferCyclic::Reset() {
    m_writePos = 0;
    m_readPos = 0;
    m_totalWritten = 0;
    m_totalRead = 0;
}

// Unsigned arithmetic keeps this right when the running counters wrap.
uint32_t BufferCyclic::FreeSpace() const {
    return m_capacity + m_totalRead - m_totalWritten;
}

int BufferCyclic::Write(const void* source, uint32_t n) {
    if (FreeSpace() < n) {
        return 0;
    }
    const auto* src = static_cast<const uint8_t*>(source);
    const uint32_t tail = m_capacity - m_writePos;
    if (tail < n) {
        std::memcpy(m_data + m_writePos, src, tail);
        std::memcpy(m_data, src + tail, n - tail);
        m_writePos = m_writePos + n - m_capacity;
    } else {
        if (n > 0) {
            std::memcpy(m_data + m_writePos, src, n);
        }
        m_writePos += n;
        if (m_writePos == m_capacity) {
            m_writePos = 0;
        }
    }
    m_totalWritten += n;
    return 1;
}

int BufferCyclic::Read(void* destination, uint32_t n) {
    // Strictly more than n must be held: a buffer holding exactly n refuses a read of n.
    if (HeldBytes() <= n) {
        return 0;
    }
    CopyOut(static_cast<uint8_t*>(destination), n);
    return 1;
}

uint32_t BufferCyclic::Drain(void* destination, uint32_t n) {
    const uint32_t held = HeldBytes();
    const uint32_t count = n < held ? n : held;
    CopyOut(static_cast<uint8_t*>(destination), count);
    return count;
}

void BufferCyclic::CopyOut(uint8_t* dst, uint32_t n) {
    // Compared as a difference so that a capacity near 2^32 cannot overflow the sum.
    if (n > m_capacity - m_readPos) {
        const uint32_t first = m_capacity - m_readPos;
        std::memcpy(dst, m_data + m_readPos, first);
        std::memcpy(dst + first, m_data, n - first);
        m_readPos = m_readPos + n - m_capacity;
    } else {
        if (n > 0) {
            std::memcpy(dst, m_data + m_readPos, n);
        }
        m_readPos += n;
        if (m_readPos == m_capacity) {
            m_readPos = 0;
        }
    }
    m_totalRead += n;
}
