#include "playlist/zonestore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/xdgsandbox.h"

namespace {

using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryRoot;

std::string Stored(const std::string& keyPath, const char* value) {
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    RegistryKey key;
    char buffer[platform::kRegistryBufferBytes] = {};
    if (!user.OpenKey(keyPath, key) || !key.QueryString(value, buffer, sizeof buffer)) {
        return "<none>";
    }
    return buffer;
}

std::vector<std::string> Texts(const Zone& zone) {
    std::vector<std::string> texts;
    for (const RtpDestination& destination : zone.Destinations) {
        texts.push_back(destination.ListText());
    }
    return texts;
}

void StorePlaylist(const std::string& name, const std::vector<RtpDestination>& destinations) {
    PlaylistStore store;
    Playlist playlist;
    playlist.Destinations = destinations;
    ASSERT_TRUE(store.CreateWith(name, playlist));
}

class ZoneStoreTest : public XdgSandbox {};

// A zone is a key of the sibling tree with a playlist's RTP subtree; the names it cannot
// take, the destinations it has already and edits of "All" are refused in words, and a
// refusal changes nothing.
TEST_F(ZoneStoreTest, ZonesHoldDestinationsAsPlaylistsDoAndRefuseWhatTheyCannotTake) {
    ZoneStore zones;
    Zone zone;
    EXPECT_FALSE(zones.Find("Yard", zone));  // no store file yet
    EXPECT_EQ(zones.LastFailure(), StoreFailure::None);
    EXPECT_EQ(zones.Problem(), "there is no zone named \"Yard\"");

    ASSERT_TRUE(zones.Create("Yard")) << zones.Problem();
    RtpDestination group = RtpDestination::FromOctets(239, 1, 1, 1, 5004);
    group.Ttl = 4;
    ASSERT_TRUE(zones.AddDestination("yard", group)) << zones.Problem();
    ASSERT_TRUE(zones.AddDestination("Yard", RtpDestination::FromOctets(239, 1, 1, 1, 5006)));
    const std::string rtp = std::string(ZoneStore::kBasePath) + "\\Yard\\RTP";
    EXPECT_EQ(Stored(rtp, "RtpCount"), "2");
    EXPECT_EQ(Stored(rtp + "\\RTP1", "IP:PORT"), "239.1.1.1 : 5004");
    EXPECT_EQ(Stored(rtp + "\\RTP1", "MulticastTTL"), "4");
    std::vector<std::string> playlists;
    PlaylistStore().ListPlaylists(playlists);
    EXPECT_TRUE(playlists.empty());  // not under the playlists' key

    const RtpDestination sameAgain = RtpDestination::FromOctets(239, 1, 1, 1, 5004);
    struct Refusal {
        std::function<bool()> call;
        std::string problem;
        StoreFailure failure;
    };
    const std::vector<Refusal> refusals = {
        {[&] { return zones.Create("yard"); }, "a zone named \"Yard\" exists already",
         StoreFailure::None},
        {[&] { return zones.Create("ALL"); },
         "\"All\" stands for every destination of the store; a zone cannot be named so",
         StoreFailure::BadName},
        {[&] { return zones.Create("a\\b"); }, "A zone name cannot contain a backslash (\\).",
         StoreFailure::BadName},
        {[&] { return zones.Create(" Yard"); }, "A zone name cannot begin or end with a blank.",
         StoreFailure::BadName},
        {[&] { return zones.AddDestination("Yard", sameAgain); },
         "the zone \"Yard\" has 239.1.1.1 : 5004 already", StoreFailure::None},
        {[&] { return zones.AddDestination("all", sameAgain); },
         "\"All\" is every destination of the store and cannot be changed; create a zone",
         StoreFailure::None},
        {[&] { return zones.AddDestination("Field", sameAgain); },
         "there is no zone named \"Field\"", StoreFailure::None},
        {[&] { return zones.RemoveDestination("Yard", 2); },
         "the zone \"Yard\" has no destination 3 (it has 2)", StoreFailure::None},
        {[&] { return zones.Delete("All"); },
         "\"All\" is every destination of the store and cannot be deleted", StoreFailure::None},
        {[&] { return zones.Delete("Field"); }, "there is no zone named \"Field\"",
         StoreFailure::None},
    };
    for (const Refusal& refusal : refusals) {
        EXPECT_FALSE(refusal.call()) << refusal.problem;
        EXPECT_EQ(zones.Problem(), refusal.problem);
        EXPECT_EQ(zones.LastFailure(), refusal.failure) << refusal.problem;
    }

    ASSERT_TRUE(zones.Find("YARD", zone));
    EXPECT_EQ(zone.Name, "Yard");
    EXPECT_EQ(Texts(zone),
              (std::vector<std::string>{"239.1.1.1 : 5004 (TTL 4)", "239.1.1.1 : 5006 (TTL 1)"}));
    ASSERT_TRUE(zones.RemoveDestination("Yard", 0));
    ASSERT_TRUE(zones.Find("Yard", zone));
    EXPECT_EQ(Texts(zone), (std::vector<std::string>{"239.1.1.1 : 5006 (TTL 1)"}));
    EXPECT_TRUE(zones.Problem().empty());

    ASSERT_TRUE(zones.Delete("yard"));
    EXPECT_FALSE(zones.Find("Yard", zone));
    EXPECT_EQ(zones.LastFailure(), StoreFailure::None);
    std::vector<Zone> listed;
    ASSERT_TRUE(zones.List(listed));
    EXPECT_TRUE(listed.empty());

    // A store that cannot be read is no empty store.
    std::filesystem::remove(UserFile());
    std::filesystem::create_directory(UserFile());
    EXPECT_FALSE(zones.List(listed));
    EXPECT_EQ(zones.LastFailure(), StoreFailure::Unavailable);
    EXPECT_EQ(zones.Problem().rfind("the zones could not be read: ", 0), 0u) << zones.Problem();
    EXPECT_FALSE(zones.Find("All", zone));
    EXPECT_NE(zones.LastFailure(), StoreFailure::None);
}

// "All" is every destination once, whoever holds it: playlists by name, then zones, the first
// of an address and port kept with its own TTL; it is never listed as a stored zone.
TEST_F(ZoneStoreTest, AllIsTheUnionOfPlaylistsThenZonesOncePerAddressAndPort) {
    RtpDestination lobbyGroup = RtpDestination::FromOctets(239, 1, 1, 1, 5004);
    lobbyGroup.Ttl = 8;
    StorePlaylist("lobby", {lobbyGroup, RtpDestination::FromOctets(10, 0, 0, 2, 5004)});
    StorePlaylist("Atrium", {RtpDestination::FromOctets(10, 0, 0, 1, 5004),
                             RtpDestination::FromOctets(10, 0, 0, 2, 5004)});
    ZoneStore zones;
    ASSERT_TRUE(zones.Create("Yard"));
    ASSERT_TRUE(zones.Create("Hall"));
    ASSERT_TRUE(zones.AddDestination("Yard", RtpDestination::FromOctets(239, 1, 1, 1, 5004)));
    ASSERT_TRUE(zones.AddDestination("Yard", RtpDestination::FromOctets(239, 1, 1, 1, 5008)));
    ASSERT_TRUE(zones.AddDestination("Hall", RtpDestination::FromOctets(10, 0, 0, 1, 6000)));

    Zone all;
    ASSERT_TRUE(zones.Find("aLL", all));
    EXPECT_EQ(all.Name, ZoneStore::kAllZone);
    EXPECT_EQ(Texts(all), (std::vector<std::string>{"10.0.0.1 : 5004", "10.0.0.2 : 5004",
                                                    "239.1.1.1 : 5004 (TTL 8)", "10.0.0.1 : 6000",
                                                    "239.1.1.1 : 5008 (TTL 1)"}));
    std::vector<Zone> listed;
    ASSERT_TRUE(zones.List(listed));
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].Name, "Hall");
    EXPECT_EQ(listed[1].Name, "Yard");
    EXPECT_EQ(listed[1].Destinations.size(), 2u);
}

}  // namespace
