#pragma once
// A fixed-capacity ring of bytes between the decoder and the packetiser. Writes and reads
// are all-or-nothing; a read succeeds only while strictly more bytes are held than it asks
// for, so the last bytes written stay until the end of the source drains them. The running
// counters are 32-bit and may wrap. Not thread-safe: the streaming worker both writes and
// reads it.

#include <cstdint>
#include <memory>

class BufferCyclic {
public:
    explicit BufferCyclic(uint32_t capacity);
    BufferCyclic(const BufferCyclic&) = delete;
    BufferCyclic& operator=(const BufferCyclic&) = delete;
    virtual ~BufferCyclic();

    void Reset();
    uint32_t FreeSpace() const;
    // 1 when all n bytes were stored, 0 when nothing was.
    int Write(const void* source, uint32_t n);
    // 1 when n bytes were delivered, 0 when nothing was (held <= n).
    int Read(void* destination, uint32_t n);
    // At the end of a source: delivers up to n bytes, as many as are held (this may empty
    // the ring, which Read never does). Returns the count delivered.
    uint32_t Drain(void* destination, uint32_t n);

    uint32_t Capacity() const { return m_capacity; }
    uint32_t HeldBytes() const { return m_totalWritten - m_totalRead; }

    // The tests' view of the counters, near their wrap point; defined by the tests alone.
    friend class BufferCyclicTestPeer;

private:
    // Copies n held bytes out and advances the read side.
    void CopyOut(uint8_t* dst, uint32_t n);

    uint8_t* m_data = nullptr;
    uint32_t m_capacity = 0;
    uint32_t m_writePos = 0;
    uint32_t m_readPos = 0;
    uint32_t m_totalWritten = 0;
    uint32_t m_totalRead = 0;
};
