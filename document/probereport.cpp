#include "document/probereport.h"

#include <filesystem>
#include <system_error>

#include "media/sourceprobe.h"

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
    report.valid = ProbeSourceFile(path.c_str(), info, report.description, report.reason);
    if (report.valid) {
        report.reason.clear();
    } else {
        report.description.clear();
    }
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
