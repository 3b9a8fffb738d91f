#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A folder for one fuzzer's output files, made on first use and removed with its contents when
// the fuzzer exits; prefix names it under the system's temporary folder.
const std::string& ScratchDir(const char* prefix);
