#include "realtimekit.h"

#include <sys/resource.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace platform {

namespace {

constexpr const char* kService = "org.freedesktop.RealtimeKit1";
constexpr const char* kObject = "/org/freedesktop/RealtimeKit1";
constexpr const char* kInterface = "org.freedesktop.RealtimeKit1";
// The daemon answers at once; a bus that does not must not hold up the start of a run.
constexpr uint64_t kCallTimeoutUs = 1000000;

// Closes the bus connection and frees the error on every return path.
struct BusCall {
    sd_bus* bus = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;

    BusCall() = default;
    BusCall(const BusCall&) = delete;
    BusCall& operator=(const BusCall&) = delete;
    ~BusCall() {
        sd_bus_error_free(&error);
        sd_bus_flush_close_unref(bus);
    }
    // Reads a property of the daemon; false when it cannot be read.
    bool Property(const char* name, char type, void* value) {
        sd_bus_error_free(&error);
        return sd_bus_get_property_trivial(bus, kService, kObject, kInterface, name, &error, type,
                                           value) >= 0;
    }
};

}  // namespace

bool RealtimeKitMakeThreadRealtime(int priority) {
    BusCall call;
    if (sd_bus_open_system(&call.bus) < 0) {
        return false;  // no system bus
    }
    sd_bus_set_method_call_timeout(call.bus, kCallTimeoutUs);
    int32_t maxPriority = 0;
    int64_t maxRtTimeUs = 0;
    if (!call.Property("MaxRealtimePriority", 'i', &maxPriority) ||
        !call.Property("RTTimeUSecMax", 'x', &maxRtTimeUs) || maxPriority <= 0 ||
        maxRtTimeUs <= 0) {
        return false;  // no daemon
    }
    // The daemon refuses a process that may run real-time threads without blocking for longer
    // than its limit: a runaway thread then gets SIGXCPU and SIGKILL instead of freezing the
    // machine. The worker blocks every period, far below any such limit.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0) {
        return false;
    }
    const rlim_t allowed = std::min(limit.rlim_max, static_cast<rlim_t>(maxRtTimeUs));
    limit.rlim_cur = std::min(limit.rlim_cur, allowed);
    limit.rlim_max = allowed;
    if (setrlimit(RLIMIT_RTTIME, &limit) != 0) {
        return false;
    }
    sd_bus_error_free(&call.error);
    sd_bus_message* reply = nullptr;
    const int result =
        sd_bus_call_method(call.bus, kService, kObject, kInterface, "MakeThreadRealtime",
                           &call.error, &reply, "tu", static_cast<uint64_t>(gettid()),
                           static_cast<uint32_t>(std::min<int32_t>(priority, maxPriority)));
    sd_bus_message_unref(reply);
    return result >= 0;
}

}  // namespace platform
