#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A folder for one fuzzer's input files, made on first use and removed with its contents when
// the fuzzer exits; prefix names it under the system's temporary folder.
const std::string& ScratchDir(const char* prefix);

// Writes an input to path; aborts when it cannot, as a harness that cannot write its input
// tests nothing.
void WriteScratchFile(const std::string& path, const uint8_t* data, size_t size);
