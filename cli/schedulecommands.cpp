// The schedule commands: events that play a playlist at the times of a calendar expression,
// kept in the store beside the playlists and zones. Times are shown in the local time zone,
// as the server reckons them.

#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "clicommands.h"
#include "playlist/calendarpattern.h"
#include "playlist/schedulestore.h"
#include "server/speech.h"

namespace clicommands {
namespace {

// "2027-01-04 07:55:00 CET".
std::string LocalText(int64_t instant) {
    const auto seconds = static_cast<std::time_t>(instant);
    std::tm parts{};
    char text[64] = {};
    if (localtime_r(&seconds, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &parts) == 0) {
        return std::to_string(instant) + " s after the epoch";
    }
    return text;
}

// Up to `count` next times of an event after `now`; fewer when it stops occurring.
std::vector<std::string> NextTimes(const ScheduleEvent& event, int64_t now, int count) {
    const CalendarPattern pattern = CalendarPattern::Parse(event.When);
    std::vector<std::string> times;
    int64_t after = now;
    for (int i = 0; i < count; ++i) {
        after = pattern.NextAfter(after);
        if (after < 0) {
            break;
        }
        times.push_back(LocalText(after));
    }
    return times;
}

nlohmann::ordered_json EventJson(const ScheduleEvent& event, const std::vector<std::string>& next) {
    return {{"id", event.Id},     {"playlist", event.Playlist}, {"when", event.When},
            {"zone", event.Zone}, {"until", event.Until},       {"catch_up", event.CatchUp == 1},
            {"say", event.Say},   {"voice", event.Voice},       {"next", next}};
}

void PrintEvent(CliConsole& console, const ScheduleEvent& event,
                const std::vector<std::string>& next) {
    console.out << event.Id << ". " << event.Playlist << " at " << event.When << '\n'
                << "   zone: "
                << (event.Zone.empty() ? "the playlist's own destinations" : event.Zone)
                << "\n   until: " << (event.Until.empty() ? "none" : event.Until)
                << "\n   catch-up: " << (event.CatchUp == 1 ? "on" : "off") << '\n';
    if (!event.Say.empty()) {
        console.out << "   says: \"" << event.Say << "\""
                    << (event.Voice.empty() ? std::string() : " in the voice " + event.Voice)
                    << '\n';
    }
    if (next.empty()) {
        console.out << "   next: none, it does not occur again\n";
    }
    for (size_t i = 0; i < next.size(); ++i) {
        console.out << (i == 0 ? "   next: " : "         ") << next[i] << '\n';
    }
}

}  // namespace

int ScheduleAdd(const CliOptions& options, CliConsole& console) {
    const int64_t now = std::time(nullptr);
    const CalendarPattern when = CalendarPattern::Parse(options.when);
    // A time that has passed for good is a mistake, not an event; one that does not parse
    // is refused by the store in its own words.
    if (when.Valid() && when.NextAfter(now) < 0) {
        return Fail(console,
                    "when: \"" + when.Normalized() + "\" does not occur again; nothing was added");
    }
    ScheduleEvent event;
    event.Playlist = options.name;
    event.When = options.when;
    event.Zone = options.zone;
    event.Until = options.until;
    event.CatchUp = options.catchUp ? 1 : 0;
    event.Say = options.say;
    event.Voice = options.voice;
    if (!event.Say.empty()) {
        // Refused now in the words the server would use at the time, not found out then.
        std::vector<uint8_t> wave;
        std::string problem;
        if (!speech::RenderWave(event.Say, event.Voice, wave, problem)) {
            return Fail(console, problem);
        }
    }
    ScheduleStore schedule;
    if (!schedule.Add(event)) {
        return Fail(console, schedule.Problem());
    }
    console.out << "event " << event.Id << ": next at " << LocalText(when.NextAfter(now)) << '\n';
    return kSuccess;
}

int ScheduleList(const CliOptions& options, CliConsole& console) {
    ScheduleStore schedule;
    std::vector<ScheduleEvent> events;
    if (!schedule.List(events)) {
        return Fail(console, schedule.Problem());
    }
    const int64_t now = std::time(nullptr);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ScheduleEvent& event : events) {
        const std::vector<std::string> next = NextTimes(event, now, options.count);
        if (options.json) {
            list.push_back(EventJson(event, next));
        } else {
            PrintEvent(console, event, next);
        }
    }
    if (options.json) {
        PrintJson(console, list);
    }
    return kSuccess;
}

int ScheduleRemove(const CliOptions& options, CliConsole& console) {
    ScheduleStore schedule;
    return schedule.Remove(options.id) ? kSuccess : Fail(console, schedule.Problem());
}

}  // namespace clicommands
