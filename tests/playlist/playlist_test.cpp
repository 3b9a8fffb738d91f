#include "playlist/playlist.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/netinterfaces.h"
#include "playlist/destinationcheck.h"

namespace {

PlaylistFile MakeFile(const char* name, int formatBytes = 0) {
    PlaylistFile file;
    EXPECT_TRUE(file.SetName(name));
    EXPECT_TRUE(file.Source.SetPath((std::string("/music/") + name).c_str()));
    file.Source.durationSeconds = 42;
    file.Source.chunkBytes = 417;
    if (formatBytes > 0) {
        std::vector<uint8_t> block(static_cast<size_t>(formatBytes));
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<uint8_t>(i + 1);
        }
        file.Source.SetFormat(block.data(), formatBytes);
    }
    file.DstFormat = 7;
    file.DstSampleRate = 8000;
    file.DstPacketization = 20;
    file.Valid = 1;
    return file;
}

std::string Names(const Playlist& playlist) {
    std::string names;
    for (const PlaylistFile& file : playlist.Files) {
        names += file.Name;
    }
    return names;
}

Playlist ThreeFiles() {
    Playlist playlist;
    playlist.AppendFile(MakeFile("A"));
    playlist.AppendFile(MakeFile("B", 30));
    playlist.AppendFile(MakeFile("C"));
    return playlist;
}

TEST(PlaylistFile, DefaultIsAllZero) {
    const PlaylistFile file;
    EXPECT_STREQ(file.Name, "");
    EXPECT_STREQ(file.Source.path, "");
    EXPECT_EQ(file.Source.formatSize, 0);
    EXPECT_EQ(file.Source.format, nullptr);
    EXPECT_EQ(file.DstFormat, 0);
    EXPECT_EQ(file.DstSampleRate, 0);
    EXPECT_EQ(file.DstPacketization, 0);
    EXPECT_EQ(file.Valid, 0);
}

TEST(PlaylistFile, CopyDuplicatesTheFormatBlock) {
    PlaylistFile original = MakeFile("song.mp3", 30);
    const PlaylistFile copy = original;
    ASSERT_EQ(copy.Source.formatSize, 30);
    ASSERT_NE(copy.Source.format, nullptr);
    EXPECT_NE(copy.Source.format.get(), original.Source.format.get());
    EXPECT_EQ(std::memcmp(copy.Source.format.get(), original.Source.format.get(), 30), 0);
    original.Source.format[0] = 0xFF;
    EXPECT_EQ(copy.Source.format[0], 1) << "the copy's block is its own";
    EXPECT_STREQ(copy.Name, "song.mp3");
    EXPECT_STREQ(copy.Source.path, "/music/song.mp3");
    EXPECT_EQ(copy.Source.durationSeconds, 42);
    EXPECT_EQ(copy.Source.chunkBytes, 417);
    EXPECT_EQ(std::tie(copy.DstFormat, copy.DstSampleRate, copy.DstPacketization, copy.Valid),
              std::make_tuple(7, 8000, 20, 1));
}

TEST(PlaylistFile, AssignmentReplacesOrDropsTheTargetBlock) {
    PlaylistFile target = MakeFile("old.wav", 18);
    const PlaylistFile withoutBlock = MakeFile("new.wav");
    target = withoutBlock;
    EXPECT_EQ(target.Source.format, nullptr);
    EXPECT_EQ(target.Source.formatSize, 0);
    EXPECT_STREQ(target.Name, "new.wav");

    const PlaylistFile withBlock = MakeFile("mp3.mp3", 30);
    target = withBlock;
    ASSERT_EQ(target.Source.formatSize, 30);
    EXPECT_EQ(std::memcmp(target.Source.format.get(), withBlock.Source.format.get(), 30), 0);
}

TEST(PlaylistFile, SelfAssignmentKeepsEverything) {
    PlaylistFile file = MakeFile("self.mp3", 30);
    const uint8_t* block = file.Source.format.get();
    PlaylistFile& alias = file;
    file = alias;
    EXPECT_EQ(file.Source.format.get(), block);
    EXPECT_EQ(file.Source.formatSize, 30);
    EXPECT_EQ(file.Source.format[29], 30);
    EXPECT_STREQ(file.Name, "self.mp3");
}

TEST(PlaylistFile, MovedFromSourceHasNoBlockAndNoSize) {
    PlaylistFile from = MakeFile("moved.mp3", 30);
    PlaylistFile to = std::move(from);
    EXPECT_EQ(to.Source.formatSize, 30);
    EXPECT_NE(to.Source.format, nullptr);
    EXPECT_EQ(from.Source.format, nullptr);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(from.Source.formatSize, 0);
    // A copy of the moved-from entry must be consistent, not promise 30 missing bytes.
    const PlaylistFile copy = from;
    EXPECT_EQ(copy.Source.formatSize, 0);
}

TEST(PlaylistFile, OverlongNameIsRefusedUnchanged) {
    PlaylistFile file = MakeFile("keep.wav");
    EXPECT_FALSE(file.SetName(std::string(260, 'x').c_str()));
    EXPECT_STREQ(file.Name, "keep.wav");
    EXPECT_TRUE(file.SetName(std::string(259, 'y').c_str()));
    EXPECT_EQ(std::strlen(file.Name), 259u);
}

struct MoveCase {
    const char* order;
    bool down;
    int index;
    const char* expected;
};

void PrintTo(const MoveCase& c, std::ostream* os) {
    *os << '"' << c.order << (c.down ? "\" down " : "\" up ") << c.index << " -> \"" << c.expected
        << '"';
}

// "ABC_down_0", "empty_up_minus1".
std::string MoveName(const ::testing::TestParamInfo<MoveCase>& info) {
    const MoveCase& c = info.param;
    return (*c.order == '\0' ? std::string("empty") : std::string(c.order)) +
           (c.down ? "_down_" : "_up_") +
           (c.index < 0 ? "minus" + std::to_string(-c.index) : std::to_string(c.index));
}

class PlaylistMove : public ::testing::TestWithParam<MoveCase> {};

TEST_P(PlaylistMove, MovesOnlyWithANeighbour) {
    const MoveCase& c = GetParam();
    Playlist playlist;
    for (const char* p = c.order; *p != '\0'; ++p) {
        const char name[2] = {*p, '\0'};
        playlist.AppendFile(MakeFile(name, *p == 'B' ? 30 : 0));
    }
    if (c.down) {
        playlist.MoveFileDown(c.index);
    } else {
        playlist.MoveFileUp(c.index);
    }
    EXPECT_EQ(Names(playlist), c.expected);
    // The block travels with its entry.
    for (const PlaylistFile& file : playlist.Files) {
        EXPECT_EQ(file.Source.formatSize, file.Name[0] == 'B' ? 30 : 0) << file.Name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, PlaylistMove,
    ::testing::Values(MoveCase{"ABC", true, 0, "BAC"}, MoveCase{"ABC", true, 1, "ACB"},
                      MoveCase{"ABC", true, 2, "ABC"}, MoveCase{"ABC", true, -1, "ABC"},
                      MoveCase{"ABC", true, 7, "ABC"}, MoveCase{"ABC", false, 2, "ACB"},
                      MoveCase{"ABC", false, 1, "BAC"}, MoveCase{"ABC", false, 0, "ABC"},
                      MoveCase{"ABC", false, 3, "ABC"}, MoveCase{"ABC", false, -1, "ABC"},
                      MoveCase{"A", true, 0, "A"}, MoveCase{"A", false, 0, "A"},
                      MoveCase{"", true, 0, ""}, MoveCase{"", false, 0, ""}),
    MoveName);

TEST(Playlist, DuplicateEntriesAreIndependent) {
    Playlist playlist;
    const PlaylistFile file = MakeFile("twice.mp3", 30);
    playlist.AppendFile(file);
    playlist.AppendFile(file);
    ASSERT_EQ(playlist.FileCount(), 2u);
    EXPECT_NE(playlist.FileAt(0).Source.format.get(), playlist.FileAt(1).Source.format.get());
    playlist.FileAt(0).Source.format[0] = 0xAA;
    playlist.EraseFile(0);
    ASSERT_EQ(playlist.FileCount(), 1u);
    EXPECT_STREQ(playlist.FileAt(0).Name, "twice.mp3");
    EXPECT_EQ(playlist.FileAt(0).Source.format[0], 1);
}

TEST(Playlist, InsertEraseAndClear) {
    Playlist playlist = ThreeFiles();
    playlist.InsertFile(3, MakeFile("D"));
    playlist.InsertFile(0, MakeFile("Z"));
    playlist.InsertFile(9, MakeFile("X"));  // beyond the end: nothing
    EXPECT_EQ(Names(playlist), "ZABCD");
    playlist.EraseFile(2);
    playlist.EraseFile(4);  // beyond the end: nothing
    EXPECT_EQ(Names(playlist), "ZACD");

    playlist.AppendDestination(RtpDestination::FromOctets(127, 0, 0, 1, 5004));
    playlist.AppendDestination(RtpDestination::FromOctets(127, 0, 0, 1, 5004));
    playlist.AppendDestination(RtpDestination::FromOctets(10, 0, 0, 2, 6000));
    playlist.EraseDestination(0);
    playlist.EraseDestination(5);
    ASSERT_EQ(playlist.Destinations.size(), 2u);
    EXPECT_STREQ(playlist.Destinations[0].IpPort, "127.0.0.1 : 5004");
    EXPECT_STREQ(playlist.Destinations[1].IpPort, "10.0.0.2 : 6000");

    playlist.Clear();
    EXPECT_EQ(playlist.FileCount(), 0u);
    EXPECT_TRUE(playlist.Destinations.empty());
}

TEST(RtpDestination, TextAndNetworkOrderAddress) {
    const RtpDestination d = RtpDestination::FromOctets(192, 168, 1, 10, 5004);
    EXPECT_STREQ(d.IpPort, "192.168.1.10 : 5004");
    uint8_t bytes[4];
    std::memcpy(bytes, &d.IP, 4);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{192, 168, 1, 10}));
    if constexpr (std::endian::native == std::endian::little) {
        EXPECT_EQ(d.IP, 167880896u);
    }
    EXPECT_EQ(d.Port, 5004u);

    const RtpDestination widest = RtpDestination::FromOctets(255, 255, 255, 255, 65535);
    EXPECT_STREQ(widest.IpPort, "255.255.255.255 : 65535");
    EXPECT_EQ(widest.IP, 0xFFFFFFFFu);
    const RtpDestination zero = RtpDestination::FromOctets(0, 0, 0, 0, 0);
    EXPECT_STREQ(zero.IpPort, "0.0.0.0 : 0");
}

TEST(RtpDestination, CopiesAreByteForByte) {
    const RtpDestination d = RtpDestination::FromOctets(10, 1, 2, 3, 40000);
    RtpDestination copy;
    copy = d;
    EXPECT_EQ(std::memcmp(&copy, &d, sizeof d), 0);
}

// The check on its own and against a snapshot of the interfaces give the same answer.
void ExpectSendFault(const RtpDestination& destination, destinationcheck::SendFault fault) {
    EXPECT_EQ(destinationcheck::CheckSendable(destination), fault) << destination.IpPort;
    EXPECT_EQ(destinationcheck::CheckSendable(destination, platform::InterfaceSnapshot::Take()),
              fault)
        << destination.IpPort << " against a snapshot";
}

}  // namespace

// Destinations that must never be sent to: refused when added, left out (with the reason)
// when a stored one comes to be streamed. A group's interface is checked when an entry
// opens; inside a network namespace of its own, loopback is down until switched on.
TEST(DestinationCheck, BroadcastAndMissingOrDownInterfacesAreRefused) {
    using destinationcheck::SendFault;
    const RtpDestination any = RtpDestination::FromOctets(0, 0, 0, 0, 5004);
    const RtpDestination all = RtpDestination::FromOctets(255, 255, 255, 255, 5004);
    EXPECT_NE(destinationcheck::AddressProblem(any), "");
    EXPECT_NE(destinationcheck::AddressProblem(all), "");
    ExpectSendFault(any, SendFault::UnusableAddress);
    ExpectSendFault(all, SendFault::UnusableAddress);
    for (const uint32_t ip : platform::BroadcastAddresses()) {
        RtpDestination subnet = any;
        subnet.IP = ip;
        EXPECT_NE(destinationcheck::AddressProblem(subnet), "") << subnet.AddressText();
        ExpectSendFault(subnet, SendFault::UnusableAddress);
    }
    const RtpDestination loopback = RtpDestination::FromOctets(127, 0, 0, 1, 5004);
    EXPECT_EQ(destinationcheck::AddressProblem(loopback), "");
    ExpectSendFault(loopback, SendFault::None);

    RtpDestination group = RtpDestination::FromOctets(239, 1, 2, 3, 5004);
    EXPECT_EQ(destinationcheck::AddressProblem(group), "");
    ExpectSendFault(group, SendFault::None);  // the routing table's interface
    ASSERT_TRUE(group.SetInterface("sonvexnone0"));
    ExpectSendFault(group, SendFault::NoInterface);
    EXPECT_EQ(destinationcheck::SendFaultText(group, SendFault::NoInterface),
              "239.1.2.3 : 5004 not sent to: there is no network interface named "
              "\"sonvexnone0\"");
    ASSERT_TRUE(group.SetInterface("lo"));
    ExpectSendFault(group, SendFault::None);

    // The down case in a child that has a network namespace of its own (needs privilege).
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNET) != 0) {
            ::_exit(77);
        }
        const bool down =
            destinationcheck::CheckSendable(group) == SendFault::InterfaceDown &&
            destinationcheck::CheckSendable(group, platform::InterfaceSnapshot::Take()) ==
                SendFault::InterfaceDown &&
            destinationcheck::SendFaultText(group, SendFault::InterfaceDown) ==
                "239.1.2.3 : 5004 not sent to: the network interface \"lo\" is down";
        ::_exit(down ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no network namespace permitted for the interface-down case";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a down interface is not reported as down";
}
