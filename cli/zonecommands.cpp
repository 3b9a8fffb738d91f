// The zone commands: named sets of destinations that scheduled events play to, kept in the
// store beside the playlists. Each change is one transaction of the zone store.

#include <ostream>
#include <string>
#include <vector>

#include "clicommands.h"
#include "playlist/zonestore.h"

namespace clicommands {
namespace {

nlohmann::ordered_json ZoneJson(const Zone& zone) {
    nlohmann::ordered_json destinations = nlohmann::ordered_json::array();
    size_t number = 0;
    for (const RtpDestination& destination : zone.Destinations) {
        destinations.push_back(DestinationJson(destination, ++number));
    }
    return {{"name", zone.Name}, {"destinations", destinations}};
}

void PrintZone(CliConsole& console, const Zone& zone) {
    console.out << zone.Name << '\n';
    if (zone.Destinations.empty()) {
        console.out << "  (no destinations)\n";
    }
    size_t number = 0;
    for (const RtpDestination& destination : zone.Destinations) {
        console.out << "  " << ++number << ". " << destination.ListText() << '\n';
    }
}

}  // namespace

int ZoneCreate(const CliOptions& options, CliConsole& console) {
    ZoneStore zones;
    return zones.Create(options.zone) ? kSuccess : Fail(console, zones.Problem());
}

int ZoneAddDest(const CliOptions& options, CliConsole& console) {
    RtpDestination destination;
    if (!DestinationFrom(options, destination, console)) {
        return kFailure;
    }
    ZoneStore zones;
    return zones.AddDestination(options.zone, destination) ? kSuccess
                                                           : Fail(console, zones.Problem());
}

int ZoneRemoveDest(const CliOptions& options, CliConsole& console) {
    ZoneStore zones;
    // The parser took numbers from 1 only.
    return zones.RemoveDestination(options.zone, options.index - 1)
               ? kSuccess
               : Fail(console, zones.Problem());
}

int ZoneDelete(const CliOptions& options, CliConsole& console) {
    ZoneStore zones;
    return zones.Delete(options.zone) ? kSuccess : Fail(console, zones.Problem());
}

int ZoneList(const CliOptions& options, CliConsole& console) {
    ZoneStore zones;
    std::vector<Zone> stored;
    Zone all;
    if (!zones.List(stored) || !zones.Find(ZoneStore::kAllZone, all)) {
        return Fail(console, zones.Problem());
    }
    stored.push_back(all);
    if (!options.json) {
        for (const Zone& zone : stored) {
            PrintZone(console, zone);
        }
        return kSuccess;
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Zone& zone : stored) {
        list.push_back(ZoneJson(zone));
    }
    PrintJson(console, list);
    return kSuccess;
}

}  // namespace clicommands
