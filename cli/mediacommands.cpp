// probe and convert: the desktop's file description and its conversion tool, on files named
// on the command line.

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <memory>
#include <ostream>

#include "clicommands.h"
#include "codec/waveformat.h"
#include "convert/mediaconverter.h"
#include "convert/outputname.h"

namespace clicommands {
namespace {

constexpr int kBarWidth = 30;

// The converter that SIGINT or SIGTERM stops while `convert` runs: an interrupted conversion
// then drops its temporary output instead of leaving it behind. RequestStop only stores to a
// lock-free atomic, which a signal handler may do.
std::atomic<MediaConverter*> g_converting{nullptr};
std::atomic<bool> g_interrupted{false};  // no further input is begun

extern "C" void OnConvertSignal(int /*signal*/) {
    g_interrupted.store(true);
    if (MediaConverter* converter = g_converting.load()) {
        converter->RequestStop();
    }
}

// Routes SIGINT and SIGTERM to the converter while it lives; the former handlers come back.
class StopOnSignals {
public:
    explicit StopOnSignals(MediaConverter& converter) {
        g_interrupted.store(false);
        g_converting.store(&converter);
        struct sigaction action {};
        action.sa_handler = OnConvertSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_oldInt);
        sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~StopOnSignals() {
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
        g_converting.store(nullptr);
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};

// Collects the conversion worker's messages; called on the thread that runs it, which is
// the command's own.
class ConversionProgress : public ConvertDoneSink {
public:
    ConversionProgress(CliConsole& console, const std::string& name, int32_t durationSeconds)
        : m_console(console), m_name(name), m_duration(durationSeconds) {}

    void PostConvertDone(uintptr_t wParam, intptr_t lParam) override {
        if (wParam == 0) {
            Draw(lParam);
            return;
        }
        m_outcome = lParam;
        if (m_console.terminal) {
            m_console.out << '\n';
        }
    }
    intptr_t Outcome() const { return m_outcome; }
    void Draw(intptr_t seconds) {
        if (!m_console.terminal) {
            return;
        }
        const intptr_t total = std::max<intptr_t>(m_duration, 1);
        const auto filled =
            static_cast<int>(std::clamp<intptr_t>(seconds * kBarWidth / total, 0, kBarWidth));
        m_console.out << "\r[" << std::string(static_cast<size_t>(filled), '#')
                      << std::string(static_cast<size_t>(kBarWidth - filled), '.') << "] "
                      << seconds << "/" << m_duration << " s " << m_name << std::flush;
    }

private:
    CliConsole& m_console;
    std::string m_name;
    int32_t m_duration;
    intptr_t m_outcome = 0;
};

nlohmann::ordered_json FormatJson(const SourceFormatInfo& info) {
    WAVEFORMATEX format{};
    if (info.format == nullptr ||
        !ReadWaveFormat(info.format.get(), static_cast<size_t>(info.formatSize), format)) {
        return nullptr;
    }
    return {{"format_tag", format.wFormatTag},
            {"channels", format.nChannels},
            {"sample_rate", format.nSamplesPerSec}};
}

// Why OpenChain refused, for the operator.
std::string OpenFailure(const MediaConverter& converter, const std::string& output) {
    switch (converter.Failure()) {
        case ChainFailure::Output:
            return output + " could not be created: " + converter.OutputError();
        case ChainFailure::Codec:
            return "no codec decodes the input";
        default:
            return "the input could not be opened";
    }
}

}  // namespace

int Probe(const CliOptions& options, CliConsole& console) {
    nlohmann::ordered_json results = nlohmann::ordered_json::array();
    bool refused = false;
    for (const std::string& path : options.paths) {
        SourceFormatInfo info;
        std::string description;
        std::string reason;
        const bool supported = ProbeFile(path.c_str(), info, description, reason);
        refused = refused || !supported;
        if (options.json) {
            nlohmann::ordered_json result = {{"path", path}, {"supported", supported}};
            if (supported) {
                result["description"] = DescriptionLines(description);
                result["duration_seconds"] = info.durationSeconds;
                result["format"] = FormatJson(info);
            } else {
                result["reason"] = reason;
            }
            results.push_back(result);
        } else if (supported) {
            console.out << path << ":\n";
            std::string lines = DescriptionLines(description);
            for (size_t from = 0; from < lines.size();) {
                const size_t end = lines.find('\n', from);
                console.out << "  " << lines.substr(from, end - from + 1);
                from = end + 1;
            }
        } else {
            console.out << path << ": refused: " << reason << '\n';
        }
    }
    if (options.json) {
        PrintJson(console, results);
    }
    return refused ? kFailure : kSuccess;
}

int Convert(const CliOptions& options, CliConsole& console) {
    MediaConverter converter;
    const StopOnSignals signals(converter);
    const auto outputFormat = std::make_unique<uint8_t[]>(converter.FormatRecordSize());
    bool failed = false;
    for (const std::string& input : options.paths) {
        if (g_interrupted.load()) {
            return Fail(console, "interrupted before " + input);
        }
        const std::string output = ConvertedOutputPath(input, options.outputDir);
        std::error_code error;
        if (!options.overwrite && std::filesystem::exists(output, error)) {
            Fail(console, output + " exists; --overwrite replaces it");
            failed = true;
            continue;
        }
        converter.WriteOutputFormat(outputFormat.get(), static_cast<uint16_t>(options.format));
        if (input.size() >= kMaxPathChars || output.size() >= kMaxPathChars) {
            Fail(console, input + ": not converted: the path is longer than 259 bytes");
            failed = true;
            continue;
        }
        SourceFormatInfo info;
        std::string description;
        std::string reason;
        if (!ProbeFile(input.c_str(), info, description, reason)) {
            Fail(console, input + ": not converted: " + reason);
            failed = true;
            continue;
        }
        if (!converter.OpenChain(input.c_str(), output.c_str(), outputFormat.get())) {
            Fail(console, input + ": not converted: " + OpenFailure(converter, output));
            failed = true;
            continue;
        }
        ConversionProgress progress(console, std::filesystem::path(input).filename().string(),
                                    converter.SourceInfo().durationSeconds);
        progress.Draw(0);
        converter.ConversionWorker(progress);
        if (progress.Outcome() == kConvertStopped) {
            return Fail(console, input + ": interrupted; " + output + " was not written");
        }
        if (progress.Outcome() != 0) {
            Fail(console, input + ": conversion failed: " +
                              (progress.Outcome() == kConvertWriteFailed
                                   ? output + " could not be written"
                                   : std::string("the input shrank or could not be read")));
            failed = true;
            continue;
        }
        if (!console.terminal) {
            console.out << input << " -> " << output << '\n';
        }
    }
    return failed ? kFailure : kSuccess;
}

}  // namespace clicommands
