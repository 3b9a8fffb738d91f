#pragma once
// The playlist's open entry as a packet source: the file engine's packets, one per tick.
// Worker thread only.

#include "engine/packetsource.h"
#include "engine/winsonvex.h"

class EntrySource final : public PacketSource {
public:
    explicit EntrySource(WinSonvex& engine) : m_engine(engine) {}

    bool Ready() const override { return m_engine.IsEntryOpen() && !m_engine.EndOfSource(); }
    bool Take(int64_t instantNs, SourcePacket& packet) override;
    // Decodes the next packet's samples once this one is out, as ProducePacket does.
    void Sent() override { m_engine.PrepareNext(); }
    bool Finished() const override { return m_engine.EndOfSource(); }

private:
    WinSonvex& m_engine;
};
