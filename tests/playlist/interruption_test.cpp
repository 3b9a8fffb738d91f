// Saves interrupted by SIGKILL, and two processes saving and loading the same store.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>

#include "playlist/playliststore.h"
#include "support/xdgsandbox.h"

namespace {

// A playlist whose every field tells which version and entry it is.
Playlist Version(char tag, int files, int destinations) {
    Playlist playlist;
    for (int i = 0; i < files; ++i) {
        PlaylistFile file;
        const std::string name = std::string(1, tag) + "-" + std::to_string(i) + ".mp3";
        file.SetName(name.c_str());
        file.Source.SetPath(("/media/" + name).c_str());
        file.DstFormat = tag == 'A' ? 7 : 6;
        file.DstSampleRate = 8000;
        file.DstPacketization = 20 + i;
        playlist.AppendFile(file);
    }
    for (int i = 0; i < destinations; ++i) {
        playlist.AppendDestination(RtpDestination::FromOctets(127, 0, static_cast<uint8_t>(tag),
                                                              static_cast<uint8_t>(i), 5000 + i));
    }
    return playlist;
}

bool Same(const Playlist& a, const Playlist& b) {
    if (a.Files.size() != b.Files.size() || a.Destinations.size() != b.Destinations.size()) {
        return false;
    }
    for (size_t i = 0; i < a.Files.size(); ++i) {
        const PlaylistFile& x = a.Files[i];
        const PlaylistFile& y = b.Files[i];
        if (std::string(x.Name) != y.Name || std::string(x.Source.path) != y.Source.path ||
            x.DstFormat != y.DstFormat || x.DstSampleRate != y.DstSampleRate ||
            x.DstPacketization != y.DstPacketization) {
            return false;
        }
    }
    for (size_t i = 0; i < a.Destinations.size(); ++i) {
        const RtpDestination& x = a.Destinations[i];
        const RtpDestination& y = b.Destinations[i];
        if (std::string(x.IpPort) != y.IpPort || x.IP != y.IP || x.Port != y.Port) {
            return false;
        }
    }
    return true;
}

class InterruptionTest : public XdgSandbox {};

TEST_F(InterruptionTest, KilledSavesLeaveTheOldOrTheNewPlaylistWhole) {
    const Playlist a = Version('A', 60, 6);
    const Playlist b = Version('B', 90, 9);
    {
        PlaylistStore store;
        store.Create("Killed");
        ASSERT_TRUE(store.SavePlaylist(a));
    }
    std::mt19937 random(12345);
    int sawA = 0;
    int sawB = 0;
    for (int round = 0; round < 40; ++round) {
        int done[2];
        ASSERT_EQ(::pipe(done), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(done[0]);
            PlaylistStore store;
            Playlist scratch;
            store.Open("Killed", scratch);
            const auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            for (int i = 0; std::chrono::steady_clock::now() < stop; ++i) {
                store.Save(i % 2 == 0 ? b : a);
                const char saved = 's';
                (void)!::write(done[1], &saved, 1);  // tells the parent a save completed
            }
            ::_exit(0);  // only if the parent never killed it
        }
        ::close(done[1]);
        // Let one or two saves complete, whatever the machine's speed, then kill the
        // child at a random point of the next ones.
        const int completed = 1 + round % 2;
        char byte;
        for (int i = 0; i < completed; ++i) {
            ASSERT_EQ(::read(done[0], &byte, 1), 1);
        }
        ::close(done[0]);
        ::usleep(static_cast<useconds_t>(random() % 15000));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        PlaylistStore store;
        Playlist loaded;
        ASSERT_TRUE(store.Open("Killed", loaded));
        const bool isA = Same(loaded, a);
        const bool isB = Same(loaded, b);
        ASSERT_TRUE(isA || isB) << "round " << round << ": " << loaded.Files.size() << " files, "
                                << loaded.Destinations.size() << " destinations";
        (isA ? sawA : sawB)++;
    }
    EXPECT_TRUE(QuarantinedFiles().empty());
    // The kills landed at different points: both versions were seen.
    EXPECT_GT(sawA, 0);
    EXPECT_GT(sawB, 0);
}

TEST_F(InterruptionTest, SaveThatRunsOutOfSpaceKeepsTheOldPlaylist) {
    const Playlist a = Version('A', 20, 2);
    {
        PlaylistStore store;
        store.Create("Full");
        ASSERT_TRUE(store.SavePlaylist(a));
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Writes past 64 KiB fail as on a full disk.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        PlaylistStore store;
        Playlist scratch;
        store.Open("Full", scratch);
        if (store.SavePlaylist(Version('B', 2000, 50))) {
            ::_exit(1);
        }
        ::_exit(store.LastFailure() == StoreFailure::Full ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << (WEXITSTATUS(status) == 1 ? "the save reported success" : "not reported as a full disk");

    PlaylistStore store;
    Playlist loaded;
    ASSERT_TRUE(store.Open("Full", loaded));
    EXPECT_TRUE(Same(loaded, a));
    EXPECT_TRUE(store.SavePlaylist(Version('C', 5, 1)));  // and the store still works
    EXPECT_TRUE(QuarantinedFiles().empty());
}

// Each child saves its own version of a shared playlist and loads it back, many times;
// it exits 0 when every save committed and every load was one whole version.
int SaveAndLoadRounds(char mine, char theirs, int rounds) {
    const Playlist own = Version(mine, 30 + mine % 7, 3);
    const Playlist other = Version(theirs, 30 + theirs % 7, 3);
    PlaylistStore store;
    store.Create("Shared");
    for (int i = 0; i < rounds; ++i) {
        if (!store.SavePlaylist(own)) {
            return 1;
        }
        Playlist loaded;
        store.Load(loaded);
        if (!Same(loaded, own) && !Same(loaded, other)) {
            return 2;
        }
    }
    return 0;
}

TEST_F(InterruptionTest, TwoProcessesSavingTheSamePlaylistNeitherFailNorCorrupt) {
    pid_t children[2];
    const char tags[2] = {'P', 'Q'};
    for (int i = 0; i < 2; ++i) {
        children[i] = ::fork();
        ASSERT_GE(children[i], 0);
        if (children[i] == 0) {
            ::_exit(SaveAndLoadRounds(tags[i], tags[1 - i], 60));
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    PlaylistStore store;
    Playlist loaded;
    ASSERT_TRUE(store.Open("Shared", loaded));
    EXPECT_TRUE(Same(loaded, Version('P', 30 + 'P' % 7, 3)) ||
                Same(loaded, Version('Q', 30 + 'Q' % 7, 3)));
    EXPECT_TRUE(QuarantinedFiles().empty());
}

}  // namespace
