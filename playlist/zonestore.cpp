#include "playlist/zonestore.h"

#include <algorithm>

#include "platform/registry.h"
#include "storetree.h"

namespace {

using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryTransaction;

std::string ZonePath(const std::string& name) {
    return std::string(ZoneStore::kBasePath) + "\\" + name;
}

void AddUnique(std::vector<RtpDestination>& to, const std::vector<RtpDestination>& from) {
    for (const RtpDestination& d : from) {
        const bool known = std::any_of(to.begin(), to.end(), [&d](const RtpDestination& o) {
            return o.IP == d.IP && o.Port == d.Port;
        });
        if (!known) {
            to.push_back(d);
        }
    }
}

}  // namespace

bool ZoneStore::Refuse(std::string problem) {
    m_problem = std::move(problem);
    return false;
}

bool ZoneStore::List(std::vector<Zone>& zones) {
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
        return true;  // no zone yet
    }
    std::vector<std::string> names;
    base.SubKeyNames(names);
    for (const std::string& name : names) {
        Zone zone;
        zone.Name = name;
        storetree::ReadDestinations(user, ZonePath(name) + "\\RTP", zone.Destinations);
        zones.push_back(std::move(zone));
    }
    return true;
}

bool ZoneStore::Find(const std::string& name, Zone& zone) {
    std::vector<Zone> zones;
    if (!List(zones)) {
        return false;
    }
    if (storetree::SameName(name, kAllZone)) {
        zone.Name = kAllZone;
        zone.Destinations.clear();
        PlaylistStore playlists;
        std::vector<std::string> names;
        playlists.ListPlaylists(names);
        std::sort(names.begin(), names.end());
        for (const std::string& playlistName : names) {
            Playlist playlist;
            if (playlists.Open(playlistName, playlist)) {
                AddUnique(zone.Destinations, playlist.Destinations);
            }
        }
        for (const Zone& z : zones) {
            AddUnique(zone.Destinations, z.Destinations);
        }
        return true;
    }
    for (Zone& z : zones) {
        if (storetree::SameName(z.Name, name)) {
            zone = std::move(z);
            return true;
        }
    }
    return false;
}

bool ZoneStore::Create(const std::string& name) {
    m_failure = StoreFailure::None;
    if (storetree::SameName(name, kAllZone)) {
        return Refuse("\"All\" is every destination the store knows; choose another name");
    }
    if (const std::string problem = PlaylistStore::NameProblem(name); !problem.empty()) {
        return Refuse(problem);
    }
    Zone existing;
    if (Find(name, existing)) {
        return Refuse("a zone named \"" + existing.Name + "\" exists already");
    }
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    RegistryKey key;
    if (!transaction.IsActive() || !user.CreateKey(ZonePath(name) + "\\RTP", key) ||
        !storetree::SetNumber(key, "RtpCount", 0) || !transaction.Commit()) {
        m_failure = storetree::FailureFrom(user.LastError());
        return Refuse("the zone could not be stored: " + PlaylistStore::FailureText(m_failure));
    }
    return true;
}

bool ZoneStore::AddDestination(const std::string& name, const RtpDestination& destination) {
    Zone zone;
    if (storetree::SameName(name, kAllZone) || !Find(name, zone)) {
        return Refuse("there is no zone named \"" + name + "\"");
    }
    const bool known = std::any_of(zone.Destinations.begin(), zone.Destinations.end(),
                                   [&](const RtpDestination& d) {
                                       return d.IP == destination.IP && d.Port == destination.Port;
                                   });
    if (known) {
        return Refuse(std::string(destination.IpPort) + " is in the zone already");
    }
    zone.Destinations.push_back(destination);
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    if (!transaction.IsActive() ||
        !storetree::WriteDestinations(user, ZonePath(zone.Name) + "\\RTP", zone.Destinations) ||
        !transaction.Commit()) {
        m_failure = storetree::FailureFrom(user.LastError());
        return Refuse("the zone could not be stored: " + PlaylistStore::FailureText(m_failure));
    }
    return true;
}
