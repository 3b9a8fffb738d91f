#include "playlist/playliststore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/xdgsandbox.h"

namespace {

using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryRoot;
using Mode = RegistryHive::Mode;

const std::string kBase = PlaylistStore::kBasePath;

PlaylistFile MakeFile(const std::string& name, int32_t format, int32_t ptime) {
    PlaylistFile file;
    EXPECT_TRUE(file.SetName(name.c_str()));
    EXPECT_TRUE(file.Source.SetPath(("/music/" + name).c_str()));
    file.DstFormat = format;
    file.DstSampleRate = 8000;
    file.DstPacketization = ptime;
    file.Valid = 1;
    return file;
}

Playlist ThreeFiles() {
    Playlist playlist;
    playlist.AppendFile(MakeFile("a.mp3", 7, 20));
    playlist.AppendFile(MakeFile("b.wav", 6, 40));
    playlist.AppendFile(MakeFile("c.mp3", 7, 160));
    playlist.AppendDestination(RtpDestination::FromOctets(10, 0, 0, 1, 5004));
    playlist.AppendDestination(RtpDestination::FromOctets(192, 168, 1, 10, 6000));
    return playlist;
}

std::vector<std::string> Names(const Playlist& playlist) {
    std::vector<std::string> names;
    for (const PlaylistFile& file : playlist.Files) {
        names.emplace_back(file.Name);
    }
    return names;
}

std::string Stored(const std::string& keyPath, const char* value) {
    const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
    RegistryKey key;
    char buffer[platform::kRegistryBufferBytes] = {};
    if (!user.OpenKey(keyPath, key) || !key.QueryString(value, buffer, sizeof buffer)) {
        return "<none>";
    }
    return buffer;
}

void Store(const std::string& keyPath, const char* value, const std::string& data) {
    const RegistryHive user(RegistryRoot::CurrentUser, Mode::CreateIfMissing);
    RegistryKey key;
    ASSERT_TRUE(user.CreateKey(keyPath, key));
    ASSERT_TRUE(key.SetString(value, data));
}

bool KeyExists(RegistryRoot root, const std::string& path) {
    const RegistryHive hive(root, Mode::OpenExisting);
    RegistryKey key;
    return hive.OpenKey(path, key);
}

class PlaylistStoreTest : public XdgSandbox {};

TEST_F(PlaylistStoreTest, SavedPlaylistLoadsBackWithTheTextLayout) {
    PlaylistStore store;
    store.Create("Morning");
    EXPECT_EQ(store.FilesKeyPath(), kBase + "\\Morning\\Files");
    EXPECT_EQ(store.RtpKeyPath(), kBase + "\\Morning\\RTP");
    ASSERT_TRUE(store.SavePlaylist(ThreeFiles()));

    const std::string file2 = store.FilesKeyPath() + "\\File2";
    EXPECT_EQ(Stored(store.FilesKeyPath(), "FileCount"), "3");
    EXPECT_EQ(Stored(file2, "Name"), "b.wav");
    EXPECT_EQ(Stored(file2, "SrcPath"), "/music/b.wav");
    EXPECT_EQ(Stored(file2, "DstPath"), "none");
    EXPECT_EQ(Stored(file2, "DstSampleRate"), "8000");
    EXPECT_EQ(Stored(file2, "DstFormat"), "6");
    EXPECT_EQ(Stored(file2, "DstPacketization"), "40");
    const std::string rtp1 = store.RtpKeyPath() + "\\RTP1";
    EXPECT_EQ(Stored(store.RtpKeyPath(), "RtpCount"), "2");
    EXPECT_EQ(Stored(rtp1, "IP:PORT"), "10.0.0.1 : 5004");
    EXPECT_EQ(Stored(rtp1, "IP"), "16777226");
    EXPECT_EQ(Stored(rtp1, "Port"), "5004");
    EXPECT_EQ(Stored(store.RtpKeyPath() + "\\RTP2", "IP"), "167880896");

    Playlist loaded;
    loaded.AppendFile(MakeFile("stale.mp3", 7, 20));
    store.Load(loaded);
    const Playlist expected = ThreeFiles();
    ASSERT_EQ(Names(loaded), Names(expected));
    for (size_t i = 0; i < loaded.Files.size(); ++i) {
        EXPECT_STREQ(loaded.Files[i].Source.path, expected.Files[i].Source.path);
        EXPECT_EQ(loaded.Files[i].DstFormat, expected.Files[i].DstFormat);
        EXPECT_EQ(loaded.Files[i].DstSampleRate, 8000);
        EXPECT_EQ(loaded.Files[i].DstPacketization, expected.Files[i].DstPacketization);
        EXPECT_EQ(loaded.Files[i].Valid, 0);  // until probed
    }
    ASSERT_EQ(loaded.Destinations.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(
            std::memcmp(&loaded.Destinations[i], &expected.Destinations[i], sizeof(RtpDestination)),
            0);
    }
}

TEST_F(PlaylistStoreTest, EmptyPlaylistAndRemovedMiddleFileRewriteTheWholeTree) {
    PlaylistStore store;
    store.Create("P");
    Playlist playlist = ThreeFiles();
    ASSERT_TRUE(store.SavePlaylist(playlist));
    playlist.EraseFile(1);
    playlist.EraseDestination(0);
    ASSERT_TRUE(store.SavePlaylist(playlist));
    EXPECT_FALSE(KeyExists(RegistryRoot::CurrentUser, store.FilesKeyPath() + "\\File3"));
    EXPECT_FALSE(KeyExists(RegistryRoot::CurrentUser, store.RtpKeyPath() + "\\RTP2"));
    Playlist loaded;
    store.Load(loaded);
    EXPECT_EQ(Names(loaded), (std::vector<std::string>{"a.mp3", "c.mp3"}));
    ASSERT_EQ(loaded.Destinations.size(), 1u);
    EXPECT_STREQ(loaded.Destinations[0].IpPort, "192.168.1.10 : 6000");

    ASSERT_TRUE(store.SavePlaylist(Playlist{}));
    EXPECT_EQ(Stored(store.FilesKeyPath(), "FileCount"), "0");
    EXPECT_EQ(Stored(store.RtpKeyPath(), "RtpCount"), "0");
    EXPECT_FALSE(KeyExists(RegistryRoot::CurrentUser, store.FilesKeyPath() + "\\File1"));
    store.Load(loaded);
    EXPECT_TRUE(loaded.Files.empty());
    EXPECT_TRUE(loaded.Destinations.empty());
}

struct CountCase {
    const char* stored;  // nullptr: no count value
    size_t expected;     // of three stored files
    size_t rtpExpected;  // of two stored destinations
};

void PrintTo(const CountCase& c, std::ostream* os) {
    *os << (c.stored == nullptr ? "(no value)" : c.stored);
}

// "count_abc", "count__2xyz" (any other character becomes _), "no_value".
std::string CountName(const ::testing::TestParamInfo<CountCase>& info) {
    if (info.param.stored == nullptr) {
        return "no_value";
    }
    std::string name = std::string("count_") + info.param.stored;
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    }
    return name;
}

class CountTest : public PlaylistStoreTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(CountTest, CountValueDecidesHowManyEntriesLoad) {
    PlaylistStore store;
    store.Create("C");
    ASSERT_TRUE(store.SavePlaylist(ThreeFiles()));  // three File and two RTP subkeys
    const std::string files = store.FilesKeyPath();
    const std::string rtp = store.RtpKeyPath();
    {
        const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
        RegistryKey key;
        ASSERT_TRUE(user.OpenKey(files, key));
        if (GetParam().stored == nullptr) {
            // Rebuild the key without its count.
            ASSERT_TRUE(user.DeleteTree(files));
            ASSERT_TRUE(user.CreateKey(files + "\\File1", key));
        } else {
            ASSERT_TRUE(key.SetString("FileCount", GetParam().stored));
        }
        RegistryKey rtpKey;
        ASSERT_TRUE(user.OpenKey(rtp, rtpKey));
        ASSERT_TRUE(rtpKey.SetString("RtpCount", GetParam().stored ? GetParam().stored : "x"));
    }
    Playlist loaded;
    store.Load(loaded);
    ASSERT_EQ(loaded.Files.size(), GetParam().expected);
    for (size_t i = 3; i < loaded.Files.size(); ++i) {
        EXPECT_STREQ(loaded.Files[i].Name, "");  // beyond the stored entries: defaults
        EXPECT_STREQ(loaded.Files[i].Source.path, "");
        EXPECT_EQ(loaded.Files[i].DstPacketization, 0);
    }
    EXPECT_EQ(loaded.Destinations.size(), GetParam().rtpExpected);
}

INSTANTIATE_TEST_SUITE_P(Counts, CountTest,
                         ::testing::Values(CountCase{nullptr, 0, 0}, CountCase{"abc", 0, 0},
                                           CountCase{"0", 0, 0}, CountCase{"-4", 0, 0},
                                           CountCase{"2", 2, 2}, CountCase{" 2xyz", 2, 2},
                                           CountCase{"5", 5, 5},
                                           // Absurd counts load only the entries that exist.
                                           CountCase{"99999999999999999999999", 3, 2},
                                           CountCase{"2147483648", 3, 2}),
                         CountName);

TEST_F(PlaylistStoreTest, OverlongValuesAndBadNumbersKeepTheirDefaults) {
    PlaylistStore store;
    store.Create("Long");
    Playlist playlist;
    playlist.AppendFile(MakeFile("x.mp3", 7, 20));
    playlist.AppendFile(MakeFile("y.mp3", 7, 20));
    playlist.AppendDestination(RtpDestination::FromOctets(127, 0, 0, 1, 5004));
    ASSERT_TRUE(store.SavePlaylist(playlist));
    const std::string file1 = store.FilesKeyPath() + "\\File1";
    const std::string file2 = store.FilesKeyPath() + "\\File2";
    Store(file1, "Name", std::string(259, 'n'));
    Store(file1, "SrcPath", std::string(260, 'p'));
    Store(file2, "Name", std::string(4000, 'n'));
    Store(file2, "DstFormat", "mu-law");
    Store(store.RtpKeyPath() + "\\RTP1", "IP", "4294967296");
    Store(store.RtpKeyPath() + "\\RTP1", "Port", std::string(300, '1'));

    Playlist loaded;
    store.Load(loaded);
    ASSERT_EQ(loaded.Files.size(), 2u);
    EXPECT_EQ(std::string(loaded.Files[0].Name), std::string(259, 'n'));
    EXPECT_STREQ(loaded.Files[0].Source.path, "");
    EXPECT_STREQ(loaded.Files[1].Name, "");
    EXPECT_STREQ(loaded.Files[1].Source.path, "/music/y.mp3");
    EXPECT_EQ(loaded.Files[1].DstFormat, 0);
    ASSERT_EQ(loaded.Destinations.size(), 1u);
    EXPECT_EQ(loaded.Destinations[0].IP, 4294967295u);  // saturated, as a 32-bit read gives
    EXPECT_EQ(loaded.Destinations[0].Port, 0u);         // too long to read at all
}

TEST_F(PlaylistStoreTest, MulticastSettingsAreExtraValuesThatOlderStoresLoadAsDefaults) {
    PlaylistStore store;
    store.Create("Group");
    Playlist playlist;
    RtpDestination group = RtpDestination::FromOctets(239, 1, 1, 1, 5004);
    group.Ttl = 4;
    ASSERT_TRUE(group.SetInterface("eth0"));
    playlist.AppendDestination(group);
    playlist.AppendDestination(RtpDestination::FromOctets(239, 1, 1, 2, 5004));
    playlist.AppendDestination(RtpDestination::FromOctets(239, 1, 1, 3, 5004));
    RtpDestination spa = RtpDestination::FromOctets(10, 0, 0, 7, 34567);
    spa.Mode = kModeSpa;
    spa.ControlIP = RtpDestination::FromOctets(10, 0, 0, 8, 1).IP;
    spa.ControlPort = 6061;
    playlist.AppendDestination(spa);
    playlist.AppendDestination(spa);
    playlist.AppendDestination(spa);
    RtpDestination phones = RtpDestination::FromOctets(224, 0, 1, 116, 5001);
    phones.Mode = kModePolycom;
    phones.Channel = 50;
    phones.Serial = 0x12345678;
    ASSERT_TRUE(phones.SetCallerId("Front desk"));
    phones.FollowPriority = 1;
    playlist.AppendDestination(phones);
    playlist.AppendDestination(phones);
    ASSERT_TRUE(store.SavePlaylist(playlist));
    EXPECT_EQ(Stored(store.RtpKeyPath() + "\\RTP7", "Mode"), "polycom");
    EXPECT_EQ(Stored(store.RtpKeyPath() + "\\RTP7", "CallerId"), "Front desk");
    Store(store.RtpKeyPath() + "\\RTP8", "Channel", "51");  // out of range: plain RTP
    EXPECT_EQ(Stored(store.RtpKeyPath() + "\\RTP4", "Mode"), "spa");
    EXPECT_EQ(Stored(store.RtpKeyPath() + "\\RTP4", "ControlPort"), "6061");
    EXPECT_EQ(Stored(store.RtpKeyPath() + "\\RTP1", "Mode"), "rtp");
    // A mode not understood, and an SPA one without its control port, read as plain RTP.
    Store(store.RtpKeyPath() + "\\RTP5", "Mode", "fax");
    Store(store.RtpKeyPath() + "\\RTP6", "ControlPort", "0");
    const std::string rtp1 = store.RtpKeyPath() + "\\RTP1";
    EXPECT_EQ(Stored(rtp1, "IP:PORT"), "239.1.1.1 : 5004");  // the older text, unchanged
    EXPECT_EQ(Stored(rtp1, "MulticastTTL"), "4");
    EXPECT_EQ(Stored(rtp1, "MulticastInterface"), "eth0");
    {
        // RTP2 as an older version wrote it; RTP3 with values out of range.
        const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
        ASSERT_TRUE(user.DeleteTree(store.RtpKeyPath() + "\\RTP2"));
    }
    Store(store.RtpKeyPath() + "\\RTP2", "IP:PORT", "239.1.1.2 : 5004");
    Store(store.RtpKeyPath() + "\\RTP2", "IP", std::to_string(playlist.Destinations[1].IP));
    Store(store.RtpKeyPath() + "\\RTP2", "Port", "5004");
    Store(store.RtpKeyPath() + "\\RTP3", "MulticastTTL", "256");
    Store(store.RtpKeyPath() + "\\RTP3", "MulticastInterface", std::string(16, 'i'));

    Playlist loaded;
    store.Load(loaded);
    ASSERT_EQ(loaded.Destinations.size(), 8u);
    EXPECT_EQ(std::memcmp(&loaded.Destinations[6], &phones, sizeof phones), 0);
    EXPECT_EQ(
        loaded.Destinations[6].ListText(),
        "224.0.1.116 : 5001 (TTL 1) (Polycom channel 50, \"Front desk\", priorities followed)");
    EXPECT_EQ(loaded.Destinations[7].Mode, kModeRtp);
    EXPECT_EQ(loaded.Destinations[7].Channel, 26);
    EXPECT_EQ(std::memcmp(&loaded.Destinations[0], &group, sizeof group), 0);
    EXPECT_EQ(std::memcmp(&loaded.Destinations[3], &spa, sizeof spa), 0);
    EXPECT_EQ(loaded.Destinations[3].ListText(), "10.0.0.7 : 34567 (SPA control 10.0.0.8:6061)");
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(loaded.Destinations[i].IP, playlist.Destinations[i].IP);
        EXPECT_EQ(loaded.Destinations[i].Ttl, 1u);
        EXPECT_STREQ(loaded.Destinations[i].Interface, "");
        EXPECT_EQ(loaded.Destinations[i].Mode, kModeRtp);
    }
    for (size_t i = 4; i < 6; ++i) {
        EXPECT_EQ(loaded.Destinations[i].Mode, kModeRtp) << i;
        EXPECT_EQ(loaded.Destinations[i].ControlPort, 0u) << i;
    }
    EXPECT_EQ(loaded.Destinations[0].ListText(), "239.1.1.1 : 5004 (TTL 4, eth0)");
    EXPECT_EQ(loaded.Destinations[1].ListText(), "239.1.1.2 : 5004 (TTL 1)");

    // The announcement and report settings are values of the playlist's key: read as off
    // where an older version wrote none, or where they are out of range.
    const std::string key = PlaylistStore::kBasePath + std::string("\\Group");
    EXPECT_EQ(Stored(key, "SapAnnounce"), "0");
    EXPECT_EQ(Stored(key, "RtcpReports"), "0");
    loaded.SapAnnounce = kSapAll;
    loaded.RtcpReports = 1;
    ASSERT_TRUE(store.SavePlaylist(loaded));
    EXPECT_EQ(Stored(key, "SapAnnounce"), "2");
    Playlist settings;
    store.Load(settings);
    EXPECT_EQ(settings.SapAnnounce, kSapAll);
    EXPECT_EQ(settings.RtcpReports, 1);
    Store(key, "SapAnnounce", "3");
    Store(key, "RtcpReports", "yes");
    store.Load(settings);
    EXPECT_EQ(settings.SapAnnounce, kSapOff);
    EXPECT_EQ(settings.RtcpReports, 0);
    {
        // As an older version left it: the subtrees only.
        const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
        ASSERT_TRUE(user.DeleteTree(key));
    }
    Store(store.FilesKeyPath(), "FileCount", "0");
    settings.SapAnnounce = kSapGroups;
    settings.RtcpReports = 1;
    store.Load(settings);
    EXPECT_EQ(settings.SapAnnounce, kSapOff);
    EXPECT_EQ(settings.RtcpReports, 0);
}

// How a playlist shares destinations with other sources: values of its key that a store
// written before them, or damaged, reads as the defaults, never as a 0 made of garbage (a
// priority 0 or no ducking at all).
TEST_F(PlaylistStoreTest, SharingSettingsRoundTripAndReadDefaultsWhenMissingOrOutOfRange) {
    PlaylistStore store;
    ASSERT_TRUE(store.Create("Bells"));
    Playlist playlist;
    playlist.Priority = kPriorityEmergency;
    playlist.Role = kRoleAnnouncement;
    playlist.Interrupted = kInterruptedMute;
    playlist.DuckDb = kMinDuckDb;
    ASSERT_TRUE(store.SavePlaylist(playlist));
    const std::string key = kBase + "\\Bells";
    EXPECT_EQ(Stored(key, "Priority"), "100");
    EXPECT_EQ(Stored(key, "DuckDb"), "-60");
    Playlist loaded;
    ASSERT_TRUE(store.Load(loaded));
    EXPECT_EQ(loaded.Priority, kPriorityEmergency);
    EXPECT_EQ(loaded.Role, kRoleAnnouncement);
    EXPECT_EQ(loaded.Interrupted, kInterruptedMute);
    EXPECT_EQ(loaded.DuckDb, kMinDuckDb);

    struct Bad {
        const char* value;
        const char* text;
    };
    for (const Bad& bad :
         {Bad{"Priority", "101"}, Bad{"Priority", "-2"}, Bad{"Priority", "abc"},
          Bad{"Priority", "5x"}, Bad{"Priority", ""}, Bad{"Role", "2"}, Bad{"Role", "-1"},
          Bad{"Interrupted", "2"}, Bad{"Interrupted", "x"}, Bad{"DuckDb", "-61"},
          Bad{"DuckDb", "1"}, Bad{"DuckDb", "loud"}, Bad{"DuckDb", "99999999999"}}) {
        ASSERT_TRUE(store.SavePlaylist(Playlist()));
        Store(key, bad.value, bad.text);
        Playlist read = playlist;
        ASSERT_TRUE(store.Load(read));
        EXPECT_EQ(read.Priority, kPriorityUnset) << bad.value << "=" << bad.text;
        EXPECT_EQ(read.Role, kRoleBackground) << bad.value << "=" << bad.text;
        EXPECT_EQ(read.Interrupted, kInterruptedDuck) << bad.value << "=" << bad.text;
        EXPECT_EQ(read.DuckDb, kDefaultDuckDb) << bad.value << "=" << bad.text;
    }
    // Written before the settings existed: the values are missing.
    {
        const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
        ASSERT_TRUE(user.DeleteTree(key));
    }
    Store(store.FilesKeyPath(), "FileCount", "0");
    Playlist old = playlist;
    ASSERT_TRUE(store.Load(old));
    EXPECT_EQ(old.Priority, kPriorityUnset);
    EXPECT_EQ(old.Role, kRoleBackground);
    EXPECT_EQ(old.Interrupted, kInterruptedDuck);
    EXPECT_EQ(old.DuckDb, kDefaultDuckDb);

    // An unset priority follows the role; a set one, 0 included, is its own.
    EXPECT_EQ(old.EffectivePriority(), kDefaultBackgroundPriority);
    old.Role = kRoleAnnouncement;
    EXPECT_EQ(old.EffectivePriority(), kDefaultAnnouncementPriority);
    old.Priority = 0;
    EXPECT_EQ(old.EffectivePriority(), 0);
    old.Priority = 101;
    EXPECT_EQ(old.EffectivePriority(), kDefaultAnnouncementPriority);
}

// An update edits what is stored when it runs, not what the program read earlier: another
// program's save in between is kept.
TEST_F(PlaylistStoreTest, UpdateEditsTheStoredPlaylistAndARefusedEditWritesNothing) {
    PlaylistStore mine;
    ASSERT_TRUE(mine.Create("Shared"));
    ASSERT_TRUE(mine.SavePlaylist(ThreeFiles()));
    PlaylistStore other;
    Playlist scratch;
    ASSERT_TRUE(other.Open("Shared", scratch));
    Playlist theirs;
    theirs.AppendFile(MakeFile("theirs.mp3", 7, 20));
    ASSERT_TRUE(other.SavePlaylist(theirs));

    ASSERT_TRUE(mine.Update([](Playlist& playlist) {
        playlist.AppendFile(MakeFile("mine.mp3", 6, 40));
        return true;
    }));
    Playlist stored;
    ASSERT_TRUE(mine.Load(stored));
    EXPECT_EQ(Names(stored), (std::vector<std::string>{"theirs.mp3", "mine.mp3"}));

    EXPECT_FALSE(mine.Update([](Playlist& playlist) {
        playlist.Clear();
        return false;
    }));
    EXPECT_EQ(mine.LastFailure(), StoreFailure::None);
    ASSERT_TRUE(mine.Load(stored));
    EXPECT_EQ(stored.Files.size(), 2u);
}

TEST_F(PlaylistStoreTest, MissingKeysLoadAsEmptyParts) {
    PlaylistStore store;
    store.Create("M");
    ASSERT_TRUE(store.SavePlaylist(ThreeFiles()));
    {
        const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
        ASSERT_TRUE(user.DeleteTree(store.FilesKeyPath() + "\\File2"));
    }
    Playlist loaded;
    store.Load(loaded);
    EXPECT_EQ(Names(loaded), (std::vector<std::string>{"a.mp3", "", "c.mp3"}));
    {
        const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
        ASSERT_TRUE(user.DeleteTree(store.FilesKeyPath()));
    }
    store.Load(loaded);
    EXPECT_TRUE(loaded.Files.empty());
    EXPECT_EQ(loaded.Destinations.size(), 2u);  // still read
    {
        const RegistryHive user(RegistryRoot::CurrentUser, Mode::OpenExisting);
        ASSERT_TRUE(user.DeleteTree(store.RtpKeyPath()));
    }
    store.Load(loaded);
    EXPECT_TRUE(loaded.Destinations.empty());
}

TEST_F(PlaylistStoreTest, NamesDifferingOnlyInCaseAreOnePlaylist) {
    PlaylistStore store;
    store.Create("Demo");
    ASSERT_TRUE(store.SavePlaylist(ThreeFiles()));

    PlaylistStore other;
    Playlist loaded;
    ASSERT_TRUE(other.Open("demo", loaded));
    EXPECT_EQ(loaded.Files.size(), 3u);

    // Creating it again keeps the stored content until the first save replaces it.
    other.Create("DEMO");
    other.Load(loaded);
    EXPECT_EQ(loaded.Files.size(), 3u);
    Playlist edited;
    edited.AppendFile(MakeFile("new.mp3", 7, 80));
    ASSERT_TRUE(other.SavePlaylist(edited));
    store.Load(loaded);
    EXPECT_EQ(Names(loaded), std::vector<std::string>{"new.mp3"});
    EXPECT_TRUE(loaded.Destinations.empty());

    std::vector<std::string> names;
    ASSERT_TRUE(store.ListPlaylists(names));
    EXPECT_EQ(names, std::vector<std::string>{"Demo"});  // the case it was created with
}

TEST_F(PlaylistStoreTest, ListOpenAndDeleteFollowTheBaseKey) {
    PlaylistStore store;
    std::vector<std::string> names{"untouched"};
    EXPECT_FALSE(store.ListPlaylists(names));
    EXPECT_EQ(names, std::vector<std::string>{"untouched"});
    Playlist none;
    EXPECT_FALSE(store.Open("x", none));
    EXPECT_TRUE(store.FilesKeyPath().empty());
    EXPECT_FALSE(store.SavePlaylist(ThreeFiles()));  // nothing created or opened
    EXPECT_FALSE(std::filesystem::exists(UserFile()));

    for (const char* name : {"zeta", "Alpha", "beta"}) {
        store.Create(name);
    }
    names.clear();
    ASSERT_TRUE(store.ListPlaylists(names));
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "zeta"}));

    store.Delete("");
    store.Delete("BETA");
    names.clear();
    ASSERT_TRUE(store.ListPlaylists(names));
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "zeta"}));
    EXPECT_EQ(store.FilesKeyPath(), kBase + "\\beta\\Files");  // delete leaves the paths

    // A playlist deleted by someone else opens as an empty one.
    Playlist loaded = ThreeFiles();
    ASSERT_TRUE(store.Open("beta", loaded));
    EXPECT_TRUE(loaded.Files.empty());
    EXPECT_TRUE(loaded.Destinations.empty());
}

TEST_F(PlaylistStoreTest, NamesThatWouldBeKeyPathsAreRefused) {
    PlaylistStore store;
    ASSERT_TRUE(store.Create("A"));
    ASSERT_TRUE(store.SavePlaylist(ThreeFiles()));
    for (const char* name : {"A\\B", "a\\\\b", "trail\\", ""}) {
        EXPECT_FALSE(store.Create(name)) << name;
        EXPECT_EQ(store.LastFailure(), StoreFailure::BadName);
        EXPECT_FALSE(store.Delete(name)) << name;
    }
    EXPECT_FALSE(store.Delete("A\\Files"));
    EXPECT_FALSE(KeyExists(RegistryRoot::CurrentUser, kBase + "\\A\\B"));
    Playlist loaded;
    ASSERT_TRUE(store.Load(loaded));  // still A, whole
    EXPECT_EQ(Names(loaded), Names(ThreeFiles()));
}

// Builds a legacy tree under the machine-wide root.
void MakeLegacy(const std::string& name, const std::string& fileName) {
    const RegistryHive machine(RegistryRoot::MachineWide, Mode::OpenExisting);
    ASSERT_TRUE(machine.IsOpen());
    RegistryKey key;
    ASSERT_TRUE(machine.CreateKey(kBase + "\\" + name + "\\Files", key));
    ASSERT_TRUE(key.SetString("FileCount", "1"));
    ASSERT_TRUE(machine.CreateKey(kBase + "\\" + name + "\\Files\\File1", key));
    ASSERT_TRUE(key.SetString("Name", fileName));
    ASSERT_TRUE(key.SetString("DstPath", "none"));
    ASSERT_TRUE(machine.CreateKey(kBase + "\\" + name + "\\RTP\\RTP1", key));
    ASSERT_TRUE(key.SetString("IP", "16777226"));
}

TEST_F(PlaylistStoreTest, LegacyPlaylistsMoveToTheUserAndTheLegacyBaseGoes) {
    MakeMachineRoot();
    MakeLegacy("Old One", "one.mp3");
    MakeLegacy("Old Two", "two.wav");
    {
        const RegistryHive machine(RegistryRoot::MachineWide, Mode::OpenExisting);
        RegistryKey parent;
        ASSERT_TRUE(machine.OpenKey("Software\\Quarnel Technologies", parent));
        ASSERT_TRUE(parent.SetString("Other", "kept"));
    }

    PlaylistStore store;
    EXPECT_TRUE(store.FilesKeyPath().empty());
    EXPECT_FALSE(KeyExists(RegistryRoot::MachineWide, kBase));
    EXPECT_TRUE(KeyExists(RegistryRoot::MachineWide, "Software\\Quarnel Technologies"));
    std::vector<std::string> names;
    ASSERT_TRUE(store.ListPlaylists(names));
    EXPECT_EQ(names, (std::vector<std::string>{"Old One", "Old Two"}));
    const std::string two = kBase + "\\Old Two";
    EXPECT_EQ(Stored(two + "\\Files\\File1", "Name"), "two.wav");
    EXPECT_EQ(Stored(two + "\\Files\\File1", "DstPath"), "none");
    EXPECT_EQ(Stored(two + "\\RTP\\RTP1", "IP"), "16777226");
    Playlist loaded;
    ASSERT_TRUE(store.Open("Old Two", loaded));
    EXPECT_EQ(Names(loaded), std::vector<std::string>{"two.wav"});

    PlaylistStore again;  // nothing left to move
    names.clear();
    ASSERT_TRUE(again.ListPlaylists(names));
    EXPECT_EQ(names.size(), 2u);
}

TEST_F(PlaylistStoreTest, LegacyPlaylistNamedLikeAUserOneStaysWhereItIs) {
    MakeMachineRoot();
    MakeLegacy("Shared", "legacy.mp3");
    MakeLegacy("Only", "only.mp3");
    {
        PlaylistStore seed;  // moves both; put a legacy "Shared" back afterwards
    }
    PlaylistStore user;
    Playlist scratch;
    ASSERT_TRUE(user.Open("Shared", scratch));
    Playlist mine;
    mine.AppendFile(MakeFile("mine.mp3", 6, 40));
    mine.AppendFile(MakeFile("mine2.mp3", 6, 40));
    ASSERT_TRUE(user.SavePlaylist(mine));
    MakeLegacy("Shared", "legacy.mp3");

    PlaylistStore store;
    Playlist loaded;
    ASSERT_TRUE(store.Open("Shared", loaded));
    EXPECT_EQ(Names(loaded), (std::vector<std::string>{"mine.mp3", "mine2.mp3"}));
    EXPECT_TRUE(loaded.Destinations.empty());
    EXPECT_TRUE(KeyExists(RegistryRoot::MachineWide, kBase + "\\Shared\\Files\\File1"));
}

TEST_F(PlaylistStoreTest, UnreadableMachineRootIsSkippedQuietly) {
    WriteBytes(MachineFile(), std::string(4096, 'q'));
    PlaylistStore store;
    std::vector<std::string> names;
    EXPECT_FALSE(store.ListPlaylists(names));
    EXPECT_FALSE(std::filesystem::exists(UserFile()));
    EXPECT_EQ(ReadBytes(MachineFile()), std::string(4096, 'q'));
}

}  // namespace
