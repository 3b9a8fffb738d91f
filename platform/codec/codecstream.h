#pragma once
// One conversion inside a codec stream (codec/acm.h). A stream consumes every source byte
// it is given, keeping partial blocks (an MPEG frame cut by a chunk boundary, half a sample)
// for the next call, and appends whole destination blocks to its output queue; the front end
// hands the caller as much of the queue as the destination buffer holds. Used by one thread
// at a time.

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/waveformat.h"

// A byte FIFO of whole destination blocks. Storage is reserved when a header is prepared so
// that steady conversion does not allocate; it grows only when a caller's buffers grow.
class OutputQueue {
public:
    void SetBlock(uint32_t blockBytes) { m_block = blockBytes == 0 ? 1 : blockBytes; }
    // Bytes beyond this are dropped from the front, whole blocks at a time.
    void SetLimit(size_t limitBytes) { m_limit = limitBytes; }
    // Take() hands out nothing until the queue holds this many bytes; reaching it ends the
    // hold (0: no hold).
    void SetHold(size_t holdBytes) { m_hold = holdBytes; }
    void Reserve(size_t bytes);
    // Room for `bytes` more at the back; returns the write pointer (Commit what was written).
    uint8_t* Extend(size_t bytes);
    void Commit(size_t bytes) { m_size += bytes; }
    void Append(const uint8_t* data, size_t bytes);
    void AppendZeros(size_t bytes);
    // Moves up to `capacity` bytes (rounded down to whole blocks) into dst; returns the count.
    uint32_t Take(uint8_t* dst, uint32_t capacity);
    size_t Size() const { return m_size - m_head; }
    void Clear() { m_head = m_size = 0; }

private:
    void Compact();

    std::vector<uint8_t> m_bytes;
    size_t m_head = 0;
    size_t m_size = 0;
    uint32_t m_block = 1;
    size_t m_limit = 0;  // 0: no limit
    size_t m_hold = 0;
};

class CodecStream {
public:
    virtual ~CodecStream() = default;

    // Safe upper bound of the destination bytes one call with `srcBytes` can produce,
    // counting partial blocks held from earlier calls.
    virtual uint32_t DstBoundFor(uint32_t srcBytes) const = 0;
    // Source bytes that yield at least `dstBytes` destination bytes in steady state.
    virtual uint32_t SrcNeededFor(uint32_t dstBytes) const = 0;
    // Sizes internal storage for calls of these lengths (header preparation).
    virtual void Reserve(uint32_t srcBytes, uint32_t dstBytes);
    // Consumes all `bytes` of src and appends whole destination blocks to Output(); `end`
    // also drains what is held back (the last frame, the resampler's tail).
    virtual void Process(const uint8_t* src, uint32_t bytes, bool end) = 0;
    // Forgets all carried state (a new, unrelated sequence starts).
    virtual void Reset() = 0;

    OutputQueue& Output() { return m_output; }

protected:
    OutputQueue m_output;
};

// Clamps to the 16-bit range.
inline int16_t ClampS16(int32_t v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

inline uint32_t SaturateU32(uint64_t v) {
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}
