#include "playlist/schedulestore.h"

#include <algorithm>

#include "platform/registry.h"
#include "playlist/calendarpattern.h"
#include "storetree.h"

namespace {

using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryTransaction;

std::string EventPath(uint32_t id) {
    return std::string(ScheduleStore::kBasePath) + "\\" + std::to_string(id);
}

std::string Value(const RegistryKey& key, const char* name) {
    char text[storetree::kBuf] = {};
    return key.QueryString(name, text, sizeof text) ? std::string(text) : std::string();
}

}  // namespace

bool ScheduleStore::Refuse(std::string problem) {
    m_problem = std::move(problem);
    return false;
}

bool ScheduleStore::List(std::vector<ScheduleEvent>& events) {
    m_failure = StoreFailure::None;
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    if (!user.IsOpen()) {
        m_failure = user.LastError() == platform::RegistryError::None
                        ? StoreFailure::None
                        : storetree::FailureFrom(user.LastError());
        return m_failure == StoreFailure::None;
    }
    RegistryTransaction snapshot(user, RegistryTransaction::Kind::Read);
    RegistryKey base;
    if (!user.OpenKey(kBasePath, base)) {
        return true;
    }
    std::vector<std::string> names;
    base.SubKeyNames(names);
    for (const std::string& name : names) {
        RegistryKey key;
        if (!base.OpenSubKey(name, key)) {
            continue;
        }
        ScheduleEvent event;
        event.Id = storetree::ToUint32(name.c_str());
        event.Playlist = Value(key, "Playlist");
        event.When = Value(key, "When");
        event.Zone = Value(key, "Zone");
        event.Until = Value(key, "Until");
        event.CatchUp = Value(key, "CatchUp") == "1" ? 1 : 0;
        if (event.Id != 0 && CalendarPattern::Parse(event.When).Valid()) {
            events.push_back(std::move(event));
        }
    }
    std::sort(events.begin(), events.end(),
              [](const ScheduleEvent& a, const ScheduleEvent& b) { return a.Id < b.Id; });
    return true;
}

bool ScheduleStore::Add(ScheduleEvent& event) {
    m_failure = StoreFailure::None;
    const CalendarPattern when = CalendarPattern::Parse(event.When);
    if (!when.Valid()) {
        return Refuse("the time \"" + event.When + "\" is refused: " + when.Reason());
    }
    const CalendarPattern until = CalendarPattern::Parse(event.Until);
    if (!event.Until.empty() && !until.Valid()) {
        return Refuse("the end \"" + event.Until + "\" is refused: " + until.Reason());
    }
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    RegistryKey base;
    if (!transaction.IsActive() || !user.CreateKey(kBasePath, base)) {
        m_failure = storetree::FailureFrom(user.LastError());
        return Refuse(PlaylistStore::FailureText(m_failure));
    }
    const uint32_t id = std::max<uint32_t>(storetree::ToUint32(Value(base, "NextId").c_str()), 1);
    RegistryKey key;
    const bool stored =
        storetree::SetNumber(base, "NextId", static_cast<long long>(id) + 1) &&
        user.CreateKey(EventPath(id), key) && key.SetString("Playlist", event.Playlist) &&
        key.SetString("When", when.Normalized()) && key.SetString("Zone", event.Zone) &&
        key.SetString("Until", event.Until.empty() ? std::string() : until.Normalized()) &&
        storetree::SetNumber(key, "CatchUp", event.CatchUp == 1 ? 1 : 0) && transaction.Commit();
    if (!stored) {
        m_failure = storetree::FailureFrom(user.LastError());
        return Refuse(PlaylistStore::FailureText(m_failure));
    }
    event.Id = id;
    event.When = when.Normalized();
    return true;
}

bool ScheduleStore::Remove(uint32_t id) {
    m_failure = StoreFailure::None;
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    RegistryKey key;
    if (!user.IsOpen() || !user.OpenKey(EventPath(id), key)) {
        return Refuse("there is no scheduled event " + std::to_string(id));
    }
    key.Close();
    if (!user.DeleteTree(EventPath(id))) {
        m_failure = storetree::FailureFrom(user.LastError());
        return Refuse(PlaylistStore::FailureText(m_failure));
    }
    return true;
}
