#pragma once
// Probing a source file: whether it opens as a supported MP3 or WAV source, its description,
// and when it does not, the reader's reason. Every front end shows the same reason.

#include <string>

#include "playlist/playlist.h"

struct ProbeReport {
    bool valid = false;
    std::string description;  // items separated by "\r\n\r\n"; empty when not valid
    std::string reason;       // why the file is refused; empty when valid
};

// Opens `path` as a source and closes it again, filling `info`. The path may be the one
// inside `info`, which the probe refills.
ProbeReport ProbeSourceFile(const char* path, SourceFormatInfo& info);
// The same on an entry's own path, which survives the probe.
ProbeReport ProbeEntry(PlaylistFile& entry);
// What the details pane shows for an entry that cannot be streamed: "Invalid file", its
// path and the reason.
std::string InvalidEntryText(const PlaylistFile& entry, const ProbeReport& report);
