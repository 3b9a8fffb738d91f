#pragma once
// Decoded chunks in source order for the conversion worker. A helper thread decodes ahead of
// the worker when one can be started; otherwise each chunk is decoded on the worker's own
// thread when it asks for it. Either way the worker sees the same chunks in the same order:
// the helper only changes where decoding runs.
//
// Threads: constructed, asked and destroyed on the worker's thread. Until Stop (or the
// destructor) has returned, the helper alone calls `decode` and reads what it decoded.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class DecodeAhead {
public:
    // Decodes the next chunk into the buffer at `decoded`: its length (maybe 0), or a
    // negative value once everything is decoded.
    using Decode = std::function<int64_t()>;

    // `decode`, `decoded` and `stop` must outlive this object; `stop` is polled before each
    // chunk. With `ahead` false no helper is started (as when none can be).
    DecodeAhead(Decode decode, const uint8_t* decoded, const std::atomic<bool>& stop,
                bool ahead = true);
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;
    ~DecodeAhead();  // Stop()

    // The next chunk that decoded to something: false at the end or once stopped. The bytes
    // stay valid until the next call.
    bool Next(const uint8_t*& data, uint32_t& length);
    // Ends the helper and waits for it; Next gives nothing afterwards.
    void Stop();

private:
    // The helper's loop: decodes every chunk into a queued copy.
    void Run();
    bool Push(std::vector<uint8_t> block);
    bool Pop(std::vector<uint8_t>& block);

    // Chunks queued at most, in bytes, so that a slow writer holds the decoder back instead
    // of piling up audio; a single larger chunk still passes.
    static constexpr size_t kCapacityBytes = size_t{1} << 20;
    // Each side wakes the other only when this much can be handed over (or at the end), so
    // that the threads meet a few times a second rather than once per chunk.
    static constexpr size_t kBatchBytes = size_t{256} << 10;

    Decode m_decode;
    const uint8_t* m_decoded;
    const std::atomic<bool>& m_stop;
    std::vector<uint8_t> m_current;  // the worker's chunk since the last Next
    bool m_ahead = false;            // a helper was started

    std::mutex m_mutex;
    std::condition_variable m_canPush;
    std::condition_variable m_canPop;
    std::deque<std::vector<uint8_t>> m_blocks;  // guarded by m_mutex, as are the fields below
    std::vector<std::vector<uint8_t>> m_free;   // used buffers, back to the helper
    size_t m_queuedBytes = 0;
    bool m_finished = false;   // the helper has queued its last chunk
    bool m_cancelled = false;  // the worker takes no more
    bool m_pushWaiting = false;
    bool m_popWaiting = false;
    std::thread m_helper;  // last: started once everything above exists
};
