#pragma once
// The first number of the messages a program defines for itself; the workers' reports to the
// windows (WM_STREAMING_STATUS, WM_CONVERT_DONE) count from it, and the front ends use those
// numbers as posted event types.

constexpr unsigned kWmUser = 0x0400;
