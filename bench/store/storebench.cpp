// Times saving and loading a playlist of 1000 files and 100 destinations in a temporary
// registry, and prints the figures.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "playlist/playliststore.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (const double t : times) {
        sum += t;
    }
    std::printf("%-12s median %8.2f ms  mean %8.2f ms  min %8.2f ms  max %8.2f ms  (%zu runs)\n",
                what, times[times.size() / 2], sum / static_cast<double>(times.size()),
                times.front(), times.back(), times.size());
}

}  // namespace

int main() {
    std::string templ = (std::filesystem::temp_directory_path() / "sonvex_bench_XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    ::setenv("XDG_CONFIG_HOME", (templ + "/home").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (templ + "/etc").c_str(), 1);

    Playlist playlist;
    for (int i = 0; i < 1000; ++i) {
        PlaylistFile file;
        const std::string name = "track-" + std::to_string(i) + ".mp3";
        file.SetName(name.c_str());
        file.Source.SetPath(("/home/operator/music/album/" + name).c_str());
        file.DstFormat = 7;
        file.DstSampleRate = 8000;
        file.DstPacketization = 20;
        playlist.AppendFile(file);
    }
    for (int i = 0; i < 100; ++i) {
        playlist.AppendDestination(RtpDestination::FromOctets(127, 0, static_cast<uint8_t>(i / 250),
                                                              static_cast<uint8_t>(i), 5004));
    }

    PlaylistStore store;
    store.Create("Bench");
    constexpr int kRuns = 20;
    std::vector<double> saves;
    std::vector<double> loads;
    std::vector<double> both;
    bool ok = true;
    for (int run = 0; run < kRuns; ++run) {
        const auto t0 = Clock::now();
        ok = store.SavePlaylist(playlist) && ok;
        const auto t1 = Clock::now();
        Playlist loaded;
        store.Load(loaded);
        const auto t2 = Clock::now();
        ok = ok && loaded.Files.size() == 1000 && loaded.Destinations.size() == 100;
        saves.push_back(Ms(t1 - t0));
        loads.push_back(Ms(t2 - t1));
        both.push_back(Ms(t2 - t0));
    }
    std::printf("playlist: 1000 files, 100 destinations\n");
    Report("save", saves);
    Report("load", loads);
    Report("save+load", both);
    std::printf(
        "database size: %ju bytes\n",
        static_cast<uintmax_t>(std::filesystem::file_size(templ + "/home/sonvex/registry.db")));
    std::filesystem::remove_all(templ);
    if (!ok) {
        std::printf("FAILED: a save or a load did not round-trip\n");
        return 1;
    }
    return 0;
}
