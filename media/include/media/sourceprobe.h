#pragma once
// The probe every front end runs on a file: it opens as a source and some codec decodes its
// format. A file that opens but that no codec decodes (ADPCM with more than two channels)
// would otherwise be listed as valid and fail only when streamed or converted. Any thread.

#include <string>

#include "media/sourceformatinfo.h"

// True when the file opens and its format is decodable; info and description are then
// filled. False with `reason` saying why; info and description may have been filled.
bool ProbeSourceFile(const char* path, SourceFormatInfo& info, std::string& description,
                     std::string& reason);
