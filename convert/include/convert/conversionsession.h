#pragma once
// The worker thread of one conversion at a time, as the streaming session holds the
// streaming worker: Start runs the converter's worker on a thread of its own, which reports
// through the sink until its last message; Wait collects it; Shutdown asks it to end at its
// next pass first. The owner's thread only; the sink is called on the worker.

#include <thread>

#include "convert/mediaconverter.h"

class ConversionSession {
public:
    // The converter and the sink must outlive the session. The converter's chain is open
    // before Start.
    ConversionSession(MediaConverter& converter, ConvertDoneSink& sink);
    ConversionSession(const ConversionSession&) = delete;
    ConversionSession& operator=(const ConversionSession&) = delete;
    ~ConversionSession();  // Shutdown()

    // False, and nothing runs, when a worker exists that Wait has not collected or no thread
    // can be made.
    bool Start();
    // Waits until the worker has returned; at once when there is none.
    void Wait();
    // Asks the converter to stop at its next pass, then Wait.
    void Shutdown();
    // A worker exists that Wait has not collected.
    bool IsRunning() const { return m_worker.joinable(); }

private:
    MediaConverter& m_converter;
    ConvertDoneSink& m_sink;
    std::thread m_worker;
};
