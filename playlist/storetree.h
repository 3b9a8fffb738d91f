#pragma once
// What the stores of this library share: numbers kept as decimal text, the store's failure
// told from the registry's, names compared as the registry compares them, and the "RTP"
// subtree of destinations that playlists and zones keep alike. Private to the library.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "playlist/playlist.h"
#include "playlist/playliststore.h"

namespace storetree {

constexpr size_t kBuf = platform::kRegistryBufferBytes;

StoreFailure FailureFrom(platform::RegistryError error);

// Decimal text to int the way atoi reads it (leading blanks, sign, digits, stops at the
// first other character; no digits is 0), saturating instead of overflowing.
long long ParseSigned(const char* text);
int32_t ToInt32(const char* text);
// Unsigned 32-bit decimal: out of range saturates to the largest value, and a negative
// number wraps to it as well, as a 32-bit strtoul gives.
uint32_t ToUint32(const char* text);
// Only a whole decimal number and nothing else ("-15"); false for any other text, for
// settings whose default must not give way to the 0 that atoi makes of garbage.
bool ParseExact(const char* text, int32_t& value);
bool SetNumber(const platform::RegistryKey& key, std::string_view name, long long value);

// Number of entries to read from a count value: missing, non-numeric or non-positive is 0.
// Counts up to the trusted limit are taken as they are (missing entries load as defaults);
// a larger one is believed only as far as there are subkeys, so a damaged count cannot
// make the load allocate without bound.
size_t ReadCount(const platform::RegistryKey& key, std::string_view valueName);

// Key names compare as the registry compares them: ASCII letters without case.
bool SameName(std::string_view a, std::string_view b);

// Appends the destinations under the RTP key at `keyPath`; none when the key is missing.
void ReadDestinations(const platform::RegistryHive& user, const std::string& keyPath,
                      std::vector<RtpDestination>& destinations);
// Replaces the RTP key at `keyPath` with `destinations`, inside the caller's transaction;
// false on the first write that fails.
bool WriteDestinations(const platform::RegistryHive& user, const std::string& keyPath,
                       const std::vector<RtpDestination>& destinations);

}  // namespace storetree
