#pragma once
// A capture device that needs no hardware, for the tests of live paging.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A capture device "tone": an ALSA `file` PCM whose infile is 3 s of a sine of `hz` at
// 48 kHz mono this writes into `dir`, with an .asoundrc there that HOME now points at (the
// library's cached configuration is dropped, so the next open reads it). The file PCM reads
// over the "null" slave, which is not paced: the tone is read as fast as it is asked for.
// False when a file cannot be written.
bool MakeToneDevice(const std::filesystem::path& dir, double hz);
// The same for any file PCMs: each name reads its infile (a FIFO makes a device the test
// feeds at its own pace); the .asoundrc in `dir` declares them all and HOME points there.
bool DeclareFilePcms(const std::filesystem::path& dir,
                     const std::vector<std::pair<std::string, std::filesystem::path>>& devices);
// Points HOME back at `home` (unset when empty) and drops the configuration read under the
// tone's; for a process whose later tests must not find the tone's folder gone.
void RestoreHome(const std::string& home);

}  // namespace testsupport
