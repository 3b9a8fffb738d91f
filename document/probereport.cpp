#include "document/probereport.h"

#include <filesystem>
#include <system_error>

#include "media/audiosourcefile.h"

ProbeReport ProbeSourceFile(const char* givenPath, SourceFormatInfo& info) {
    ProbeReport report;
    const std::string path = givenPath;
    if (path.empty()) {
        report.reason = "no file is named";
        return report;
    }
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        report.reason = "a folder, not an audio file";
        return report;
    }
    AudioSourceFile file;
    if (file.Open(path.c_str(), info, report.description)) {
        file.Close();
        report.valid = true;
        return report;
    }
    report.reason = file.RefusalReason().empty() ? "unsupported media type" : file.RefusalReason();
    return report;
}

ProbeReport ProbeEntry(PlaylistFile& entry) {
    const std::string path = entry.Source.path;
    ProbeReport report = ProbeSourceFile(path.c_str(), entry.Source);
    if (report.valid) {
        entry.Source.SetPath(path.c_str());
    }
    return report;
}

std::string InvalidEntryText(const PlaylistFile& entry, const ProbeReport& report) {
    return "Invalid file\r\n\r\n" + std::string(entry.Source.path) + "\r\n\r\n" + report.reason;
}
