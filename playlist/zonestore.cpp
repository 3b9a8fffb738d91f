#include "playlist/zonestore.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/registry.h"
#include "storetree.h"

namespace {

using platform::RegistryError;
using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryTransaction;
using storetree::FailureFrom;
using storetree::SameName;

std::string ZonePath(const std::string& name) {
    return std::string(ZoneStore::kBasePath) + "\\" + name;
}

std::string RtpPath(const std::string& name) {
    return ZonePath(name) + "\\RTP";
}

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

bool IsAll(const std::string& name) {
    return SameName(name, ZoneStore::kAllZone);
}

std::string NoZone(const std::string& name) {
    return "there is no zone named " + Quoted(name);
}

// The names of the keys below `path`, none when it is missing; false on a database error.
bool KeyNames(const RegistryHive& user, const char* path, std::vector<std::string>& names) {
    names.clear();
    RegistryKey base;
    return !user.OpenKey(path, base) || base.SubKeyNames(names);
}

// The stored spelling of a zone's name; false when no zone has it.
bool StoredName(const RegistryHive& user, const std::string& name, std::string& stored) {
    std::vector<std::string> names;
    if (!PlaylistStore::IsValidName(name) || !KeyNames(user, ZoneStore::kBasePath, names)) {
        return false;
    }
    const auto found = std::find_if(names.begin(), names.end(),
                                    [&name](const std::string& n) { return SameName(n, name); });
    if (found == names.end()) {
        return false;
    }
    stored = *found;
    return true;
}

bool ReadZones(const RegistryHive& user, std::vector<Zone>& zones) {
    std::vector<std::string> names;
    if (!KeyNames(user, ZoneStore::kBasePath, names)) {
        return false;
    }
    for (const std::string& name : names) {
        Zone zone;
        zone.Name = name;
        storetree::ReadDestinations(user, RtpPath(name), zone.Destinations);
        zones.push_back(std::move(zone));
    }
    return true;
}

// Every playlist's destinations and then every zone's, the first of each address and port.
bool ReadAll(const RegistryHive& user, Zone& all) {
    std::vector<std::string> playlists;
    std::vector<Zone> zones;
    if (!KeyNames(user, PlaylistStore::kBasePath, playlists) || !ReadZones(user, zones)) {
        return false;
    }
    std::vector<RtpDestination> every;
    for (const std::string& name : playlists) {
        storetree::ReadDestinations(
            user, std::string(PlaylistStore::kBasePath) + "\\" + name + "\\RTP", every);
    }
    for (const Zone& zone : zones) {
        every.insert(every.end(), zone.Destinations.begin(), zone.Destinations.end());
    }
    all.Name = ZoneStore::kAllZone;
    all.Destinations.clear();
    for (const RtpDestination& destination : every) {
        const bool seen =
            std::any_of(all.Destinations.begin(), all.Destinations.end(),
                        [&destination](const RtpDestination& kept) {
                            return kept.IP == destination.IP && kept.Port == destination.Port;
                        });
        if (!seen) {
            all.Destinations.push_back(destination);
        }
    }
    return true;
}

}  // namespace

bool ZoneStore::Begin() {
    m_failure = StoreFailure::None;
    m_problem.clear();
    return true;
}

bool ZoneStore::Refuse(std::string problem, StoreFailure failure) {
    m_failure = failure;
    m_problem = std::move(problem);
    return false;
}

bool ZoneStore::Fail(StoreFailure failure, const std::string& what) {
    return Refuse(what + ": " + PlaylistStore::FailureText(failure), failure);
}

bool ZoneStore::List(std::vector<Zone>& zones) {
    Begin();
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    std::vector<Zone> read;
    if (user.IsOpen()) {
        RegistryTransaction snapshot(user, RegistryTransaction::Kind::Read);
        if (!snapshot.IsActive() || !ReadZones(user, read)) {
            return Fail(FailureFrom(user.LastError()), "the zones could not be read");
        }
    } else if (user.LastError() != RegistryError::None) {
        return Fail(FailureFrom(user.LastError()), "the zones could not be read");
    }
    zones = std::move(read);
    return true;
}

bool ZoneStore::Find(const std::string& name, Zone& zone) {
    Begin();
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    if (!user.IsOpen()) {
        if (user.LastError() != RegistryError::None) {
            return Fail(FailureFrom(user.LastError()), "the zones could not be read");
        }
        if (IsAll(name)) {
            zone = Zone{kAllZone, {}};
            return true;
        }
        return Refuse(NoZone(name));
    }
    RegistryTransaction snapshot(user, RegistryTransaction::Kind::Read);
    if (!snapshot.IsActive()) {
        return Fail(FailureFrom(user.LastError()), "the zones could not be read");
    }
    if (IsAll(name)) {
        Zone all;
        if (!ReadAll(user, all)) {
            return Fail(FailureFrom(user.LastError()), "the zones could not be read");
        }
        zone = std::move(all);
        return true;
    }
    Zone found;
    if (!StoredName(user, name, found.Name)) {
        return Refuse(NoZone(name));
    }
    storetree::ReadDestinations(user, RtpPath(found.Name), found.Destinations);
    zone = std::move(found);
    return true;
}

bool ZoneStore::Create(const std::string& name) {
    Begin();
    if (IsAll(name)) {
        return Refuse(Quoted(kAllZone) +
                          " stands for every destination of the store; a zone cannot be named so",
                      StoreFailure::BadName);
    }
    const std::string problem = PlaylistStore::NameProblem(name, "zone");
    if (!problem.empty()) {
        return Refuse(problem, StoreFailure::BadName);
    }
    const std::string what = "the zone " + Quoted(name) + " could not be created";
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    if (!transaction.IsActive()) {
        return Fail(FailureFrom(user.LastError()), what);
    }
    std::string stored;
    if (StoredName(user, name, stored)) {
        return Refuse("a zone named " + Quoted(stored) + " exists already");
    }
    RegistryKey key;
    if (!user.CreateKey(ZonePath(name), key) ||
        !storetree::WriteDestinations(user, RtpPath(name), {}) || !transaction.Commit()) {
        return Fail(FailureFrom(user.LastError()), what);
    }
    return true;
}

bool ZoneStore::EditZone(
    const std::string& name,
    const std::function<bool(const std::string&, std::vector<RtpDestination>&)>& edit) {
    Begin();
    if (IsAll(name)) {
        return Refuse(Quoted(kAllZone) +
                      " is every destination of the store and cannot be changed; create a zone");
    }
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    if (!transaction.IsActive()) {
        return Fail(FailureFrom(user.LastError()),
                    "the zone " + Quoted(name) + " could not be changed");
    }
    std::string stored;
    if (!StoredName(user, name, stored)) {
        return Refuse(NoZone(name));
    }
    std::vector<RtpDestination> destinations;
    storetree::ReadDestinations(user, RtpPath(stored), destinations);
    if (!edit(stored, destinations)) {
        return false;  // rolled back: nothing was written
    }
    if (!storetree::WriteDestinations(user, RtpPath(stored), destinations) ||
        !transaction.Commit()) {
        return Fail(FailureFrom(user.LastError()),
                    "the zone " + Quoted(stored) + " could not be saved, it is unchanged");
    }
    return true;
}

bool ZoneStore::AddDestination(const std::string& zone, const RtpDestination& destination) {
    return EditZone(zone, [this, &destination](const std::string& stored,
                                               std::vector<RtpDestination>& destinations) {
        for (const RtpDestination& kept : destinations) {
            if (kept.IP == destination.IP && kept.Port == destination.Port) {
                return Refuse("the zone " + Quoted(stored) + " has " + kept.IpPort + " already");
            }
        }
        destinations.push_back(destination);
        return true;
    });
}

bool ZoneStore::RemoveDestination(const std::string& zone, size_t index) {
    return EditZone(
        zone, [this, index](const std::string& stored, std::vector<RtpDestination>& destinations) {
            if (index >= destinations.size()) {
                // Numbered from 1, as the lists show them.
                return Refuse("the zone " + Quoted(stored) + " has no destination " +
                              std::to_string(static_cast<uint64_t>(index) + 1) + " (it has " +
                              std::to_string(destinations.size()) + ")");
            }
            destinations.erase(destinations.begin() + static_cast<std::ptrdiff_t>(index));
            return true;
        });
}

bool ZoneStore::Delete(const std::string& name) {
    Begin();
    if (IsAll(name)) {
        return Refuse(Quoted(kAllZone) +
                      " is every destination of the store and cannot be deleted");
    }
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    if (!user.IsOpen()) {
        return user.LastError() == RegistryError::None
                   ? Refuse(NoZone(name))
                   : Fail(FailureFrom(user.LastError()),
                          "the zone " + Quoted(name) + " could not be deleted");
    }
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    if (!transaction.IsActive()) {
        return Fail(FailureFrom(user.LastError()),
                    "the zone " + Quoted(name) + " could not be deleted");
    }
    std::string stored;
    if (!StoredName(user, name, stored)) {
        return Refuse(NoZone(name));
    }
    if (!user.DeleteTree(ZonePath(stored)) || !transaction.Commit()) {
        return Fail(FailureFrom(user.LastError()),
                    "the zone " + Quoted(stored) + " could not be deleted");
    }
    return true;
}
