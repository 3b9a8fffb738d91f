#pragma once
// The benches' receiving side: loopback UDP sockets that report when the kernel received each
// datagram, so that the receiver's own scheduling does not enter the figures.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// A socket bound to 127.0.0.1:port (0: a free port, written to *bound) that time-stamps
// arrivals, with a receive buffer of bufferBytes; -1 when it cannot be made.
int OpenStampedReceiver(uint16_t port, int bufferBytes, uint16_t* bound = nullptr);

// One datagram into data (recvmsg's result); *arrivalNs is its arrival in CLOCK_REALTIME
// nanoseconds, 0 when the kernel gave none.
ssize_t ReceiveStamped(int fd, uint8_t* data, size_t size, int flags, int64_t* arrivalNs);
