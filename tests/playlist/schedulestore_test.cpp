#include "playlist/schedulestore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "playlist/zonestore.h"
#include "support/xdgsandbox.h"

namespace {

using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryRoot;

const std::string kBase = ScheduleStore::kBasePath;

std::string Stored(const std::string& keyPath, const char* value) {
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    RegistryKey key;
    char buffer[platform::kRegistryBufferBytes] = {};
    if (!user.OpenKey(keyPath, key) || !key.QueryString(value, buffer, sizeof buffer)) {
        return "<none>";
    }
    return buffer;
}

void Store(const std::string& keyPath, const char* value, const std::string& data) {
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    RegistryKey key;
    ASSERT_TRUE(user.CreateKey(keyPath, key));
    ASSERT_TRUE(key.SetString(value, data));
}

std::vector<uint32_t> Ids(ScheduleStore& schedule) {
    std::vector<ScheduleEvent> events;
    EXPECT_TRUE(schedule.List(events)) << schedule.Problem();
    std::vector<uint32_t> ids;
    for (const ScheduleEvent& event : events) {
        ids.push_back(event.Id);
    }
    return ids;
}

class ScheduleStoreTest : public XdgSandbox {
protected:
    void SetUp() override {
        XdgSandbox::SetUp();
        PlaylistStore playlists;
        ASSERT_TRUE(playlists.CreateWith("Bells", Playlist()));
        ZoneStore zones;
        ASSERT_TRUE(zones.Create("Yard"));
    }

    static ScheduleEvent Event(const std::string& playlist, const std::string& when,
                               const std::string& zone = std::string()) {
        ScheduleEvent event;
        event.Playlist = playlist;
        event.When = when;
        event.Zone = zone;
        return event;
    }
};

// Events are stored normalized under the names the store knows; ids count on past removed
// events, past a lost NextId, and in number order rather than the keys' name order.
TEST_F(ScheduleStoreTest, EventsAreStoredNormalizedAndIdsAreNeverGivenTwice) {
    ScheduleStore schedule;
    ScheduleEvent event = Event("bells", "mon..fri 8:00", "yard");
    event.Until = "Mon..Fri 8:05";
    event.CatchUp = 1;
    event.Say = "Lunch is served";
    event.Voice = "en-us";
    ASSERT_TRUE(schedule.Add(event)) << schedule.Problem();
    EXPECT_EQ(event.Id, 1u);
    EXPECT_EQ(event.Playlist, "Bells");
    EXPECT_EQ(event.Zone, "Yard");
    EXPECT_EQ(event.When, "Mon..Fri *-*-* 08:00:00");
    EXPECT_EQ(Stored(kBase + "\\1", "When"), "Mon..Fri *-*-* 08:00:00");
    EXPECT_EQ(Stored(kBase + "\\1", "Until"), "Mon..Fri *-*-* 08:05:00");
    EXPECT_EQ(Stored(kBase + "\\1", "CatchUp"), "1");
    EXPECT_EQ(Stored(kBase, "NextId"), "2");

    ScheduleEvent all = Event("Bells", "hourly", "ALL");
    ASSERT_TRUE(schedule.Add(all)) << schedule.Problem();
    EXPECT_EQ(all.Id, 2u);
    EXPECT_EQ(all.Zone, "All");
    ASSERT_TRUE(schedule.Remove(2));
    ScheduleEvent again = Event("Bells", "daily");
    ASSERT_TRUE(schedule.Add(again));
    EXPECT_EQ(again.Id, 3u);
    EXPECT_FALSE(schedule.Remove(2));
    EXPECT_EQ(schedule.Problem(), "there is no scheduled event 2");
    EXPECT_EQ(schedule.LastFailure(), StoreFailure::None);

    for (int i = 0; i < 9; ++i) {
        ScheduleEvent more = Event("Bells", "weekly");
        ASSERT_TRUE(schedule.Add(more));
    }
    EXPECT_EQ(Ids(schedule), (std::vector<uint32_t>{1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    // A NextId lost or damaged still gives no id twice.
    Store(kBase, "NextId", "garbage");
    ScheduleEvent next = Event("Bells", "weekly");
    ASSERT_TRUE(schedule.Add(next));
    EXPECT_EQ(next.Id, 13u);

    std::vector<ScheduleEvent> events;
    ASSERT_TRUE(schedule.List(events));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].Playlist, "Bells");
    EXPECT_EQ(events[0].Zone, "Yard");
    EXPECT_EQ(events[0].Until, "Mon..Fri *-*-* 08:05:00");
    EXPECT_EQ(events[0].CatchUp, 1);
    EXPECT_EQ(events[1].CatchUp, 0);
    EXPECT_TRUE(events[1].Zone.empty());
    EXPECT_EQ(events[0].Say, "Lunch is served");
    EXPECT_EQ(events[0].Voice, "en-us");
    EXPECT_TRUE(events[1].Say.empty());  // the files play
}

// What cannot be played on is refused with its reason and stores nothing (not even an id);
// stored events that cannot be read are left out of the list.
TEST_F(ScheduleStoreTest, RefusalsSayWhyAndDamagedEventsAreSkipped) {
    ScheduleStore schedule;
    ScheduleEvent withUntil = Event("Bells", "daily");
    withUntil.Until = "Mon 9:60";
    struct Refusal {
        ScheduleEvent event;
        std::string problem;
    };
    for (Refusal& refusal : std::vector<Refusal>{
             {Event("Bells", "Mon 25:00"), "when: the hour 25 is out of range 0-23"},
             {Event("Bells", ""), "when: the time is empty"},
             {withUntil, "until: the minute 60 is out of range 0-59"},
             {Event("Nope", "daily"), "there is no playlist named \"Nope\""},
             {Event("Bells", "daily", "Field"), "there is no zone named \"Field\""},
         }) {
        EXPECT_FALSE(schedule.Add(refusal.event)) << refusal.problem;
        EXPECT_EQ(schedule.Problem(), refusal.problem);
        EXPECT_EQ(schedule.LastFailure(), StoreFailure::None);
        EXPECT_EQ(refusal.event.Id, 0u);
    }
    EXPECT_TRUE(Ids(schedule).empty());

    ScheduleEvent good = Event("Bells", "daily");
    ASSERT_TRUE(schedule.Add(good));
    EXPECT_EQ(good.Id, 1u);
    Store(kBase + "\\2", "When", "Mon 25:00");
    Store(kBase + "\\2", "Playlist", "Bells");
    Store(kBase + "\\3", "When", "daily");
    Store(kBase + "\\3", "Until", "never");
    Store(kBase + "\\04", "When", "daily");
    Store(kBase + "\\x", "When", "daily");
    Store(kBase + "\\5", "When", "daily");
    Store(kBase + "\\5", "CatchUp", "yes");
    std::vector<ScheduleEvent> events;
    ASSERT_TRUE(schedule.List(events));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].Id, 1u);
    EXPECT_EQ(events[1].Id, 5u);
    EXPECT_EQ(events[1].CatchUp, 0);
    ScheduleEvent after = Event("Bells", "daily");
    ASSERT_TRUE(schedule.Add(after));
    EXPECT_EQ(after.Id, 6u);  // past the ones that cannot be played too
}

}  // namespace
