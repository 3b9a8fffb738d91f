#include "playlist/schedulestore.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <utility>

#include "platform/registry.h"
#include "playlist/calendarpattern.h"
#include "playlist/zonestore.h"
#include "storetree.h"

namespace {

using platform::RegistryError;
using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryTransaction;
using storetree::FailureFrom;
using storetree::kBuf;

constexpr const char* kNextIdValue = "NextId";

// An event's key name as an id: the decimal text of a number from 1, as Add writes it, and
// nothing else; 0 for any other name.
uint32_t IdFromName(const std::string& name) {
    uint32_t id = 0;
    const char* end = name.data() + name.size();
    const auto result = std::from_chars(name.data(), end, id);
    if (result.ec != std::errc() || result.ptr != end || std::to_string(id) != name) {
        return 0;
    }
    return id;
}

// A calendar expression as stored: normalized, and short enough to be read back.
bool NormalizeTime(const char* which, std::string& text, std::string& problem) {
    const CalendarPattern pattern = CalendarPattern::Parse(text);
    if (!pattern.Valid()) {
        problem = std::string(which) + ": " + pattern.Reason();
        return false;
    }
    std::string normalized = pattern.Normalized();
    if (normalized.size() >= kBuf) {
        problem = std::string(which) + ": the time is too long to store, written out in full";
        return false;
    }
    text = std::move(normalized);
    return true;
}

std::string Value(const RegistryKey& key, const char* name) {
    char text[kBuf] = {};
    return key.QueryString(name, text, sizeof text) ? std::string(text) : std::string();
}

// One stored event; false for one that must not be played: a When or Until that does not
// parse.
bool ReadEvent(const RegistryKey& base, const std::string& name, uint32_t id,
               ScheduleEvent& event) {
    RegistryKey key;
    if (!base.OpenSubKey(name, key)) {
        return false;
    }
    std::string ignored;
    event.Id = id;
    event.Playlist = Value(key, "Playlist");
    event.When = Value(key, "When");
    event.Zone = Value(key, "Zone");
    event.Until = Value(key, "Until");
    event.Say = Value(key, "Say");
    event.Voice = Value(key, "Voice");
    int32_t catchUp = 0;
    event.CatchUp =
        storetree::ParseExact(Value(key, "CatchUp").c_str(), catchUp) && catchUp == 1 ? 1 : 0;
    return NormalizeTime("when", event.When, ignored) &&
           (event.Until.empty() || NormalizeTime("until", event.Until, ignored));
}

// The first id not given yet: past the stored NextId and past every stored event (in case
// NextId was lost); 0 when none is left.
uint32_t NextId(const RegistryHive& user) {
    unsigned long long next = 1;
    RegistryKey base;
    if (!user.OpenKey(ScheduleStore::kBasePath, base)) {
        return 1;
    }
    char text[kBuf] = {};
    if (base.QueryString(kNextIdValue, text, sizeof text)) {
        errno = 0;
        char* end = nullptr;
        const unsigned long long stored = std::strtoull(text, &end, 10);
        if (errno == 0 && end != text && *end == '\0' && text[0] != '-') {
            next = std::max(next, stored);
        }
    }
    std::vector<std::string> names;
    base.SubKeyNames(names);
    for (const std::string& name : names) {
        next = std::max(next, static_cast<unsigned long long>(IdFromName(name)) + 1);
    }
    return next > UINT32_MAX ? 0 : static_cast<uint32_t>(next);
}

}  // namespace

void ScheduleStore::Begin() {
    m_failure = StoreFailure::None;
    m_problem.clear();
}

bool ScheduleStore::Refuse(std::string problem, StoreFailure failure) {
    m_failure = failure;
    m_problem = std::move(problem);
    return false;
}

bool ScheduleStore::Fail(StoreFailure failure, const std::string& what) {
    return Refuse(what + ": " + PlaylistStore::FailureText(failure), failure);
}

bool ScheduleStore::List(std::vector<ScheduleEvent>& events) {
    Begin();
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    std::vector<ScheduleEvent> read;
    if (!user.IsOpen()) {
        if (user.LastError() != RegistryError::None) {
            return Fail(FailureFrom(user.LastError()), "the schedule could not be read");
        }
        events.clear();
        return true;
    }
    RegistryTransaction snapshot(user, RegistryTransaction::Kind::Read);
    RegistryKey base;
    std::vector<std::string> names;
    if (!snapshot.IsActive() || (user.OpenKey(kBasePath, base) && !base.SubKeyNames(names))) {
        return Fail(FailureFrom(user.LastError()), "the schedule could not be read");
    }
    for (const std::string& name : names) {
        ScheduleEvent event;
        const uint32_t id = IdFromName(name);
        if (id != 0 && ReadEvent(base, name, id, event)) {
            read.push_back(std::move(event));
        }
    }
    std::sort(read.begin(), read.end(),
              [](const ScheduleEvent& a, const ScheduleEvent& b) { return a.Id < b.Id; });
    events = std::move(read);
    return true;
}

bool ScheduleStore::Check(ScheduleEvent& event) {
    std::string problem;
    if (!NormalizeTime("when", event.When, problem) ||
        (!event.Until.empty() && !NormalizeTime("until", event.Until, problem))) {
        return Refuse(problem);
    }
    PlaylistStore playlists;
    std::vector<std::string> names;
    if (!playlists.ListPlaylists(names) && playlists.LastFailure() != StoreFailure::None) {
        return Fail(playlists.LastFailure(), "the playlists could not be read");
    }
    const auto found = std::find_if(names.begin(), names.end(), [&event](const std::string& n) {
        return storetree::SameName(n, event.Playlist);
    });
    if (found == names.end()) {
        return Refuse("there is no playlist named \"" + event.Playlist + "\"");
    }
    event.Playlist = *found;
    if (!event.Zone.empty()) {
        ZoneStore zones;
        Zone zone;
        if (!zones.Find(event.Zone, zone)) {
            return Refuse(zones.Problem(), zones.LastFailure());
        }
        event.Zone = zone.Name;
    }
    return true;
}

bool ScheduleStore::Store(ScheduleEvent& event) {
    const std::string what = "the event could not be stored";
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    if (!transaction.IsActive()) {
        return Fail(FailureFrom(user.LastError()), what);
    }
    const uint32_t id = NextId(user);
    if (id == 0) {
        return Refuse("no event ids are left: the store has given them all");
    }
    RegistryKey base;
    RegistryKey key;
    if (!user.CreateKey(kBasePath, base) || !base.CreateSubKey(std::to_string(id), key) ||
        !key.SetString("Playlist", event.Playlist) || !key.SetString("When", event.When) ||
        !key.SetString("Zone", event.Zone) || !key.SetString("Until", event.Until) ||
        !key.SetString("Say", event.Say) || !key.SetString("Voice", event.Voice) ||
        !storetree::SetNumber(key, "CatchUp", event.CatchUp == 1 ? 1 : 0) ||
        !storetree::SetNumber(base, kNextIdValue, static_cast<long long>(id) + 1) ||
        !transaction.Commit()) {
        return Fail(FailureFrom(user.LastError()), what);
    }
    event.Id = id;
    event.CatchUp = event.CatchUp == 1 ? 1 : 0;
    return true;
}

bool ScheduleStore::Add(ScheduleEvent& event) {
    Begin();
    ScheduleEvent checked = event;
    if (!Check(checked) || !Store(checked)) {
        return false;
    }
    event = std::move(checked);
    return true;
}

bool ScheduleStore::Remove(uint32_t id) {
    Begin();
    const std::string none = "there is no scheduled event " + std::to_string(id);
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    if (!user.IsOpen()) {
        return user.LastError() == RegistryError::None
                   ? Refuse(none)
                   : Fail(FailureFrom(user.LastError()), "the event could not be removed");
    }
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    if (!transaction.IsActive()) {
        return Fail(FailureFrom(user.LastError()), "the event could not be removed");
    }
    RegistryKey key;
    const std::string path = std::string(kBasePath) + "\\" + std::to_string(id);
    if (id == 0 || !user.OpenKey(path, key)) {
        return Refuse(none);
    }
    key.Close();
    // NextId stays: the id is never given again.
    if (!user.DeleteTree(path) || !transaction.Commit()) {
        return Fail(FailureFrom(user.LastError()), "the event could not be removed");
    }
    return true;
}
