// The commands against a temporary store: edits are stored as the desktop program stores
// them, refusals change nothing and say why, and the media commands describe, convert and
// write session descriptions.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/cliapp.h"
#include "codec/g722.h"
#include "platform/codec/codecmedia.h"
#include "playlist/playliststore.h"
#include "playlist/schedulestore.h"
#include "support/loopbackreceiver.h"
#include "support/tonedevice.h"
#include "support/wavefile.h"
#include "support/xdgsandbox.h"

namespace {

using testsupport::ReadFile;
using testsupport::SinePcm16;
using testsupport::WriteWave;

struct Result {
    int status = 0;
    std::string out;
    std::string err;
};

class CliCommandsTest : public XdgSandbox {
protected:
    Result Run(std::vector<std::string> args) {
        args.insert(args.begin(), "sonvex-cli");
        std::vector<const char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(arg.c_str());
        }
        std::ostringstream out;
        std::ostringstream err;
        CliConsole console{out, err, false};
        Result result;
        result.status = RunCli(static_cast<int>(argv.size()), argv.data(), console);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    std::string Tone(const std::string& name, uint32_t seconds) {
        const std::string path = (m_dir / name).string();
        EXPECT_TRUE(WriteWave(path, 1, 1, 8000, 16, SinePcm16(8000 * seconds, 1, 8000, 440, 8000)));
        return path;
    }

    // sonvex-cli run as a process of its own, its standard output read line by line (each a
    // JSON event) and its standard error kept in a file of the test's folder.
    struct Child {
        pid_t pid = -1;
        int out = -1;
        std::string pending;
        std::vector<nlohmann::json> events;
    };
    Child Spawn(const std::vector<std::string>& args, const std::string& errName) {
        Child child;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return child;
        }
        std::vector<std::string> all = {SONVEX_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const std::string err = (m_dir / errName).string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            child.pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        child.out = ends[0];
        if (child.pid > 0) {
            m_children.push_back(child.pid);
        }
        return child;
    }
    // A test that stopped half-way leaves no program running.
    void TearDown() override {
        for (const pid_t pid : m_children) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // The child's events up to its first `name`, which is returned; null when it ends or
    // says nothing for 20 s first (or for waitMs).
    static nlohmann::json WaitFor(Child& child, const std::string& name, int waitMs = 20000) {
        for (;;) {
            const size_t newline = child.pending.find('\n');
            if (newline != std::string::npos) {
                auto event =
                    nlohmann::json::parse(child.pending.substr(0, newline), nullptr, false);
                child.pending.erase(0, newline + 1);
                child.events.push_back(event);
                if (event.is_object() && event.value("event", "") == name) {
                    return event;
                }
                continue;
            }
            pollfd ready{child.out, POLLIN, 0};
            char bytes[4096];
            const ssize_t got = ::poll(&ready, 1, waitMs) == 1 ? ::read(child.out, bytes, 4096) : 0;
            if (got <= 0) {
                return nullptr;
            }
            child.pending.append(bytes, static_cast<size_t>(got));
        }
    }
    int Reap(Child& child) {
        int status = -1;
        ::waitpid(child.pid, &status, 0);
        ::close(child.out);
        m_children.erase(std::remove(m_children.begin(), m_children.end(), child.pid),
                         m_children.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<pid_t> m_children;

    static Playlist Stored(const std::string& name) {
        PlaylistStore store;
        Playlist playlist;
        EXPECT_TRUE(store.Open(name, playlist));
        return playlist;
    }
};

TEST_F(CliCommandsTest, EditsAreStoredAsTheDesktopStoresThemAndRefusalsChangeNothing) {
    EXPECT_EQ(Run({"create", "Lobby"}).status, 0);
    const Result again = Run({"create", "lobby"});  // names compare without case
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("exists already"), std::string::npos);
    const Result keyPath = Run({"create", "a\\b"});  // the desktop's own refusal
    EXPECT_EQ(keyPath.status, 1);
    EXPECT_EQ(keyPath.err, "sonvex-cli: A playlist name cannot contain a backslash (\\).\n");

    const std::string first = Tone("first.wav", 2);
    const std::string second = Tone("second.wav", 1);
    EXPECT_EQ(Run({"add-file", "Lobby", first}).status, 0);
    const Result added =
        Run({"add-file", "Lobby", second, "missing.wav", "--law", "a", "--ptime", "80"});
    EXPECT_EQ(added.status, 1);  // one refused: the other is still added
    EXPECT_NE(added.err.find("missing.wav: not added: No such file or directory"),
              std::string::npos);
    EXPECT_EQ(Run({"add-dest", "Lobby", "192.168.1.10", "5004"}).status, 0);
    EXPECT_EQ(Run({"add-dest", "Lobby", "239.1.1.1", "5006", "--ttl", "4", "--iface", "lo"}).status,
              0);
    for (const auto& refused : std::vector<std::vector<std::string>>{
             {"add-dest", "Lobby", "10.0.0.1", "5004", "--ttl", "4"},
             {"add-dest", "Lobby", "239.1.1.1", "5004", "--iface", "no-such-if0"},
             {"add-dest", "Lobby", "0.0.0.0", "5004"},
             {"add-dest", "Lobby", "255.255.255.255", "5004"},
             {"set", "Lobby"},
             {"set", "Elsewhere", "--rtcp", "on"},
             {"add-dest", "Lobby", "10.0.0.1", "5004", "--mode", "spa"},
             {"add-dest", "Lobby", "10.0.0.1", "5004", "--control", "10.0.0.2:6061"},
             {"add-dest", "Lobby", "10.0.0.1", "5004", "--mode", "spa", "--control", "10.0.0.2"},
             {"add-dest", "Lobby", "10.0.0.1", "5004", "--mode", "spa", "--control",
              "0.0.0.0:6061"},
             {"add-dest", "Lobby", "10.0.0.1", "5004", "--mode", "spa", "--control", "10.0.0.2:0"},
             {"add-dest", "Lobby", "10.0.0.1", "5004", "--channel", "27"},
             {"add-dest", "Lobby", "10.0.0.1", "5004", "--mode", "polycom", "--caller",
              "Reception Desk"},
             {"add-dest", "Elsewhere", "10.0.0.1", "5004"},
             {"remove-file", "Lobby", "3"},
             {"remove-dest", "Lobby", "3"},
             {"add-file", "Lobby", m_dir.string()}}) {
        const Result r = Run(refused);
        EXPECT_EQ(r.status, 1) << ::testing::PrintToString(refused);
        EXPECT_NE(r.err.find("sonvex-cli: "), std::string::npos) << r.err;
    }
    // An address that is not one is a command line that cannot be used, as a port out of range.
    for (const char* address : {"10.0.0.256", "10.0.0", "01.2.3.4" /* not octal, nor 1 */}) {
        EXPECT_EQ(Run({"add-dest", "Lobby", address, "5004"}).status, kUsageError) << address;
    }
    // An index past the end is named as typed.
    EXPECT_EQ(Run({"remove-file", "Lobby", "12"}).err,
              "sonvex-cli: the playlist \"Lobby\" has no file 12 (it has 2)\n");
    // Names that would list as two lines, hide a character or look like another's.
    for (const std::string name : {"Lobby ", " Lobby", "two\nlines", "cr\r", "tab\tname", "   "}) {
        const Result r = Run({"create", name});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err.rfind("sonvex-cli: A playlist name ", 0) == 0 ||
                      r.err.rfind("sonvex-cli: Please enter a name", 0) == 0,
                  true)
            << r.err;
    }

    Playlist stored = Stored("Lobby");
    ASSERT_EQ(stored.Files.size(), 2u);
    EXPECT_STREQ(stored.Files[0].Name, "first.wav");
    EXPECT_STREQ(stored.Files[0].Source.path, first.c_str());
    EXPECT_EQ(stored.Files[0].DstFormat, 7);
    EXPECT_EQ(stored.Files[0].DstSampleRate, 8000);
    EXPECT_EQ(stored.Files[0].DstPacketization, 20);
    EXPECT_EQ(stored.Files[1].DstFormat, 6);
    EXPECT_EQ(stored.Files[1].DstPacketization, 80);
    ASSERT_EQ(stored.Destinations.size(), 2u);
    EXPECT_STREQ(stored.Destinations[0].IpPort, "192.168.1.10 : 5004");
    EXPECT_EQ(stored.Destinations[0].Ttl, 1u);
    EXPECT_STREQ(stored.Destinations[1].IpPort, "239.1.1.1 : 5006");
    EXPECT_EQ(stored.Destinations[1].Ttl, 4u);
    EXPECT_STREQ(stored.Destinations[1].Interface, "lo");

    // show tells the files that can no longer be opened.
    std::filesystem::remove(second);
    const Result shown = Run({"show", "lobby", "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    const auto json = nlohmann::json::parse(shown.out);
    EXPECT_EQ(json["name"], "Lobby");  // as created, not as typed
    ASSERT_EQ(json["files"].size(), 2u);
    EXPECT_EQ(json["files"][0]["valid"], true);
    EXPECT_EQ(json["files"][0]["duration_seconds"], 2);
    EXPECT_EQ(json["files"][1]["valid"], false);
    EXPECT_EQ(json["files"][1]["law"], "a");
    EXPECT_EQ(json["destinations"][1]["multicast"], true);
    EXPECT_EQ(json["destinations"][1]["ttl"], 4);
    const Result text = Run({"show", "LOBBY"});
    EXPECT_EQ(text.out.rfind("Playlist \"Lobby\"\n", 0), 0u) << text.out;
    EXPECT_NE(text.out.find("2. second.wav (A-law, 8000 Hz, 80 ms) invalid: No such file"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("2. 239.1.1.1 : 5006 (TTL 4, lo)"), std::string::npos) << text.out;
    // Announcements and reports: off until set, each setting on its own.
    EXPECT_EQ(Run({"set", "Lobby", "--sap", "maybe"}).status, kUsageError);
    EXPECT_NE(text.out.find("SAP announcements: off\nRTCP reports: off\n"), std::string::npos);
    EXPECT_EQ(Run({"set", "lobby", "--sap", "all", "--rtcp", "on"}).status, 0);
    EXPECT_EQ(Run({"set", "lobby", "--sap", "on"}).status, 0);
    const auto settings = nlohmann::json::parse(Run({"show", "Lobby", "--json"}).out);
    EXPECT_EQ(settings["sap"], "on");
    EXPECT_EQ(settings["rtcp"], true);
    EXPECT_EQ(Stored("Lobby").SapAnnounce, kSapGroups);

    EXPECT_EQ(Run({"remove-file", "Lobby", "1"}).status, 0);
    EXPECT_EQ(Run({"remove-dest", "Lobby", "1"}).status, 0);
    stored = Stored("Lobby");
    ASSERT_EQ(stored.Files.size(), 1u);
    EXPECT_STREQ(stored.Files[0].Name, "second.wav");
    ASSERT_EQ(stored.Destinations.size(), 1u);
    EXPECT_EQ(stored.Destinations[0].Port, 5006u);

    EXPECT_EQ(Run({"create", "Other"}).status, 0);
    const auto list = nlohmann::json::parse(Run({"list", "--json"}).out);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["name"], "Lobby");
    EXPECT_EQ(list[0]["files"], 1);
    EXPECT_EQ(Run({"delete", "lobby"}).status, 0);
    EXPECT_EQ(Run({"list"}).out, "Other\n");  // and none of the refused names
    EXPECT_EQ(Run({"show", "Lobby"}).status, 1);
    EXPECT_EQ(Run({"delete", "Lobby"}).status, 1);
}

// The settings a server arbitrates with: each set on its own and kept by the others' sets,
// shown as text and JSON; an unset priority follows the role.
TEST_F(CliCommandsTest, SharingSettingsAreSetOneByOneAndShown) {
    ASSERT_EQ(Run({"create", "Bells"}).status, 0);
    auto shown = nlohmann::json::parse(Run({"show", "Bells", "--json"}).out);
    EXPECT_EQ(shown["priority"], kDefaultBackgroundPriority);
    EXPECT_EQ(shown["priority_default"], true);
    EXPECT_EQ(shown["role"], "background");
    EXPECT_EQ(shown["interrupted"], "duck");
    EXPECT_EQ(shown["duck_db"], kDefaultDuckDb);

    EXPECT_EQ(Run({"set", "bells", "--role", "announcement"}).status, 0);
    EXPECT_EQ(nlohmann::json::parse(Run({"show", "Bells", "--json"}).out)["priority"],
              kDefaultAnnouncementPriority);
    EXPECT_EQ(Run({"set", "Bells", "--priority", "emergency", "--sap", "on"}).status, 0);
    EXPECT_EQ(Run({"set", "Bells", "--interrupted", "mute"}).status, 0);
    EXPECT_EQ(Run({"set", "Bells", "--duck-db", "-6"}).status, 0);
    const Playlist stored = Stored("Bells");
    EXPECT_EQ(stored.Priority, kPriorityEmergency);
    EXPECT_EQ(stored.Role, kRoleAnnouncement);
    EXPECT_EQ(stored.Interrupted, kInterruptedMute);
    EXPECT_EQ(stored.DuckDb, -6);
    EXPECT_EQ(stored.SapAnnounce, kSapGroups);
    const Result text = Run({"show", "Bells"});
    EXPECT_NE(text.out.find("Priority: 100 (emergency)\nRole: announcement\nInterrupted: "
                            "mute\nDuck level: -6 dB\n"),
              std::string::npos)
        << text.out;

    // Back to the role's own priority, which a change of role then moves.
    EXPECT_EQ(Run({"set", "Bells", "--priority", "default", "--role", "background"}).status, 0);
    shown = nlohmann::json::parse(Run({"show", "Bells", "--json"}).out);
    EXPECT_EQ(shown["priority"], kDefaultBackgroundPriority);
    EXPECT_EQ(shown["priority_default"], true);
    EXPECT_NE(Run({"show", "Bells"}).out.find("Priority: 10 (default of the background role)"),
              std::string::npos);
    const Result nothing = Run({"set", "Bells"});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_NE(nothing.err.find("--priority, --role, --interrupted, --duck-db"), std::string::npos)
        << nothing.err;
}

// Zones take destinations with add-dest's checks and words; All, listed last, is every
// destination of the store once and cannot be edited.
TEST_F(CliCommandsTest, ZonesAreEditedAndListedWithAllLast) {
    ASSERT_EQ(Run({"create", "Lobby"}).status, 0);
    ASSERT_EQ(Run({"add-dest", "Lobby", "10.0.0.1", "5004"}).status, 0);
    ASSERT_EQ(Run({"zone", "create", "Yard"}).status, 0);
    ASSERT_EQ(Run({"zone", "create", "Hall"}).status, 0);
    EXPECT_EQ(Run({"zone", "add-dest", "yard", "239.1.1.1", "5004", "--ttl", "4"}).status, 0);
    EXPECT_EQ(Run({"zone", "add-dest", "Yard", "10.0.0.1", "5004"}).status, 0);
    for (const auto& refused : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"zone", "add-dest", "Yard", "10.0.0.1", "5004"},
              "the zone \"Yard\" has 10.0.0.1 : 5004 already"},
             {{"zone", "add-dest", "Yard", "10.0.0.2", "5004", "--ttl", "4"},
              "TTL and interface apply to multicast groups (224.0.0.0-239.255.255.255) only"},
             {{"zone", "add-dest", "Yard", "255.255.255.255", "5004"}, "broadcast"},
             {{"zone", "add-dest", "Field", "10.0.0.2", "5004"}, "there is no zone named"},
             {{"zone", "add-dest", "All", "10.0.0.2", "5004"}, "cannot be changed"},
             {{"zone", "create", "YARD"}, "a zone named \"Yard\" exists already"},
             {{"zone", "create", "all"}, "a zone cannot be named so"},
             {{"zone", "create", "two\nlines"}, "A zone name cannot contain a line break"},
             {{"zone", "remove-dest", "Yard", "3"},
              "the zone \"Yard\" has no destination 3 (it has 2)"},
             {{"zone", "delete", "Field"}, "there is no zone named \"Field\""},
         }) {
        const Result r = Run(refused.first);
        EXPECT_EQ(r.status, 1) << ::testing::PrintToString(refused.first);
        EXPECT_EQ(r.err.rfind("sonvex-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(refused.second), std::string::npos) << r.err;
    }
    EXPECT_EQ(Run({"zone", "list"}).out,
              "Hall\n  (no destinations)\n"
              "Yard\n  1. 239.1.1.1 : 5004 (TTL 4)\n  2. 10.0.0.1 : 5004\n"
              "All\n  1. 10.0.0.1 : 5004\n  2. 239.1.1.1 : 5004 (TTL 4)\n");

    EXPECT_EQ(Run({"zone", "remove-dest", "Yard", "1"}).status, 0);
    EXPECT_EQ(Run({"zone", "delete", "hall"}).status, 0);
    const Result listed = Run({"zone", "list", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const auto json = nlohmann::json::parse(listed.out);
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[0]["name"], "Yard");
    ASSERT_EQ(json[0]["destinations"].size(), 1u);
    EXPECT_EQ(json[0]["destinations"][0]["address"], "10.0.0.1");
    EXPECT_EQ(json[1]["name"], "All");
    EXPECT_EQ(json[1]["destinations"].size(), 1u);
    // Zones are no playlists.
    EXPECT_EQ(Run({"list"}).out, "Lobby\n");
}

// Events are added with their first time and listed with their next ones in local time;
// what cannot be played is refused with the reason, and an event past its last time says so.
TEST_F(CliCommandsTest, ScheduledEventsShowTheirNextTimesInLocalTime) {
    // The process's time zone for this test alone, put back however it ends.
    struct ZoneScope {
        bool had = std::getenv("TZ") != nullptr;
        std::string old = had ? std::getenv("TZ") : "";
        ZoneScope() {
            ::setenv("TZ", "Europe/Berlin", 1);
            ::tzset();
        }
        ~ZoneScope() {
            if (!had) {
                ::unsetenv("TZ");
            } else {
                ::setenv("TZ", old.c_str(), 1);
            }
            ::tzset();
        }
    } zoneScope;
    ASSERT_EQ(Run({"create", "Bells"}).status, 0);
    ASSERT_EQ(Run({"zone", "create", "Yard"}).status, 0);

    Result added = Run({"schedule", "add", "bells", "2190-*-04 7:55", "--zone", "yard", "--until",
                        "2190-*-04 8:00", "--catch-up"});
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out, "event 1: next at 2190-01-04 07:55:00 CET\n");
    added = Run({"schedule", "add", "Bells", "2190-07-04 12:00"});
    EXPECT_EQ(added.out, "event 2: next at 2190-07-04 12:00:00 CEST\n");
    for (const auto& refused : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"schedule", "add", "Bells", "Mon 25:00"}, "when: the hour 25 is out of range 0-23"},
             {{"schedule", "add", "Bells", "daily", "--until", "8:61"},
              "until: the minute 61 is out of range 0-59"},
             {{"schedule", "add", "Bells", "2001-01-04 07:55"},
              "when: \"2001-01-04 07:55:00\" does not occur again; nothing was added"},
             {{"schedule", "add", "Nope", "daily"}, "there is no playlist named \"Nope\""},
             {{"schedule", "add", "Bells", "daily", "--zone", "Field"},
              "there is no zone named \"Field\""},
             {{"schedule", "remove", "3"}, "there is no scheduled event 3"},
         }) {
        const Result r = Run(refused.first);
        EXPECT_EQ(r.status, 1) << ::testing::PrintToString(refused.first);
        EXPECT_EQ(r.err, "sonvex-cli: " + refused.second + "\n");
    }
    {
        // As the store may hold it: an event whose last time has passed.
        ScheduleStore schedule;
        ScheduleEvent past;
        past.Playlist = "Bells";
        past.When = "2001-01-04";
        ASSERT_TRUE(schedule.Add(past)) << schedule.Problem();
    }
    const Result listed = Run({"schedule", "list"});
    EXPECT_EQ(listed.out,
              "1. Bells at 2190-*-04 07:55:00\n"
              "   zone: Yard\n   until: 2190-*-04 08:00:00\n   catch-up: on\n"
              "   next: 2190-01-04 07:55:00 CET\n"
              "         2190-02-04 07:55:00 CET\n"
              "         2190-03-04 07:55:00 CET\n"
              "2. Bells at 2190-07-04 12:00:00\n"
              "   zone: the playlist's own destinations\n   until: none\n   catch-up: off\n"
              "   next: 2190-07-04 12:00:00 CEST\n"
              "3. Bells at 2001-01-04 00:00:00\n"
              "   zone: the playlist's own destinations\n   until: none\n   catch-up: off\n"
              "   next: none, it does not occur again\n");
    EXPECT_EQ(Run({"schedule", "remove", "2"}).status, 0);
    const auto json =
        nlohmann::json::parse(Run({"schedule", "list", "--json", "--count", "2"}).out);
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[0]["id"], 1);
    EXPECT_EQ(json[0]["playlist"], "Bells");
    EXPECT_EQ(json[0]["when"], "2190-*-04 07:55:00");
    EXPECT_EQ(json[0]["zone"], "Yard");
    EXPECT_EQ(json[0]["until"], "2190-*-04 08:00:00");
    EXPECT_EQ(json[0]["catch_up"], true);
    EXPECT_EQ(json[0]["next"],
              nlohmann::json({"2190-01-04 07:55:00 CET", "2190-02-04 07:55:00 CET"}));
    EXPECT_EQ(json[1]["id"], 3);
    EXPECT_TRUE(json[1]["next"].empty());
    EXPECT_EQ(Run({"schedule", "remove", "2"}).err, "sonvex-cli: there is no scheduled event 2\n");
}

TEST_F(CliCommandsTest, ProbeConvertAndSessionDescriptions) {
    const std::string tone = Tone("tone.wav", 3);
    const std::string riffless = (m_dir / "not-riff.wav").string();
    WriteBytes(riffless, std::string(64, 'x'));
    // A LIST chunk ahead of the audio that claims more than the file holds.
    std::vector<uint8_t> listed = ReadFile(tone);
    const uint8_t list[] = {'L', 'I', 'S', 'T', 0xF0, 0xFF, 0xFF, 0x7F, 'I', 'N', 'F', 'O'};
    listed.insert(listed.begin() + 36, std::begin(list), std::end(list));
    const std::string listFirst = (m_dir / "list-first.wav").string();
    WriteBytes(listFirst, std::string(listed.begin(), listed.end()));
    const Result probed = Run({"probe", tone, riffless, listFirst, "gone.wav"});
    EXPECT_EQ(probed.status, 1);
    EXPECT_NE(probed.out.find("  RIFF WAVE format\n"), std::string::npos) << probed.out;
    EXPECT_NE(probed.out.find("  Length (in sec) : 3\n"), std::string::npos) << probed.out;
    EXPECT_NE(probed.out.find("not-riff.wav: refused: not a RIFF WAVE file\n"), std::string::npos)
        << probed.out;
    EXPECT_NE(probed.out.find("list-first.wav: refused: LIST chunk of 2147483632 bytes runs past "
                              "the end of the file\n"),
              std::string::npos)
        << probed.out;
    EXPECT_NE(probed.out.find("gone.wav: refused: No such file or directory\n"), std::string::npos)
        << probed.out;
    // What the reader refuses is told for what it is.
    const std::string fifo = (m_dir / "pipe.wav").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = (m_dir / "big.wav").string();
    WriteBytes(big, std::string());
    std::filesystem::resize_file(big, 2ULL << 30);  // sparse: no disk used
    const Result odd = Run({"probe", fifo, big});
    EXPECT_NE(odd.out.find("pipe.wav: refused: not a regular file\n"), std::string::npos)
        << odd.out;
    EXPECT_NE(odd.out.find("big.wav: refused: the file is 2 GiB or larger"), std::string::npos)
        << odd.out;
    const auto json = nlohmann::json::parse(Run({"probe", "--json", tone}).out);
    EXPECT_EQ(json[0]["supported"], true);
    EXPECT_EQ(json[0]["format"]["sample_rate"], 8000);

    const std::filesystem::path out = m_dir / "out";
    std::filesystem::create_directory(out);
    ASSERT_EQ(Run({"convert", tone, "-o", out.string()}).status, 0);
    const std::vector<uint8_t> converted = ReadFile(out / "tone_convert.wav");
    // Three seconds of mu-law behind the 58-byte header, give or take the resampler's edges.
    ASSERT_GT(converted.size(), 58u + 2900);
    EXPECT_NEAR(static_cast<double>(converted.size() - 58), 3 * 8000, 200);
    EXPECT_EQ(testsupport::GetU16(converted, 20), 7);  // mu-law
    const Result again = Run({"convert", tone, "-o", out.string()});
    EXPECT_EQ(again.status, 1);  // an existing output is kept
    EXPECT_NE(again.err.find("--overwrite"), std::string::npos);
    EXPECT_EQ(Run({"convert", tone, "-o", out.string(), "--overwrite"}).status, 0);
    EXPECT_EQ(Run({"convert", riffless}).status, 1);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "not-riff_convert.wav"));

    ASSERT_EQ(Run({"create", "a/b"}).status, 0);
    ASSERT_EQ(Run({"add-file", "a/b", tone, "--ptime", "40"}).status, 0);
    EXPECT_EQ(Run({"sdp", "a/b", "-o", out.string()}).status, 1);  // no destination yet
    ASSERT_EQ(Run({"add-dest", "a/b", "127.0.0.1", "5004"}).status, 0);
    ASSERT_EQ(Run({"add-dest", "a/b", "239.1.2.3", "6000", "--ttl", "8"}).status, 0);
    const Result written = Run({"sdp", "a/b", "-o", out.string()});
    ASSERT_EQ(written.status, 0) << written.err;
    const std::string unicast = ReadBytes((out / "a_b-1.sdp").string());
    const std::string multicast = ReadBytes((out / "a_b-2.sdp").string());
    EXPECT_EQ(unicast.rfind("v=0\r\no=- 25 ", 0), 0u) << unicast;  // the first sender's SSRC
    // The origin is the address the packets leave from, not a host name.
    EXPECT_NE(unicast.find(" IN IP4 127.0.0.1\r\ns="), std::string::npos) << unicast;
    EXPECT_TRUE(written.err.empty()) << written.err;
    EXPECT_NE(unicast.find("\r\ns=a/b\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio 5004 RTP/AVP 0\r\n"
                           "a=rtpmap:0 PCMU/8000\r\na=ptime:40\r\n"),
              std::string::npos)
        << unicast;
    EXPECT_NE(multicast.find("\r\nc=IN IP4 239.1.2.3/8\r\n"), std::string::npos) << multicast;
    EXPECT_NE(multicast.find("\r\nm=audio 6000 RTP/AVP 0\r\n"), std::string::npos) << multicast;
    // Mu-law and A-law in one playlist: receivers differ on the switch, so it is said.
    ASSERT_EQ(Run({"add-file", "a/b", tone, "--law", "a"}).status, 0);
    const Result mixed = Run({"sdp", "a/b", "-o", out.string()});
    EXPECT_EQ(mixed.status, 0);
    EXPECT_EQ(
        mixed.err.rfind("sonvex-cli: warning: the playlist \"a/b\" mixes mu-law and A-law", 0), 0u)
        << mixed.err;
    EXPECT_EQ(std::count(mixed.err.begin(), mixed.err.end(), '\n'), 1);

    // G.722: resampled to 16 kHz, described at its 8 kHz RTP clock, named among the codecs.
    ASSERT_EQ(Run({"create", "wide"}).status, 0);
    ASSERT_EQ(Run({"add-file", "wide", tone, "--law", "g722"}).status, 0);
    ASSERT_EQ(Run({"add-dest", "wide", "127.0.0.1", "5004"}).status, 0);
    EXPECT_NE(Run({"show", "wide"}).out.find("1. tone.wav (G.722, 16000 Hz, 20 ms"),
              std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(Run({"show", "wide", "--json"}).out)["files"][0]["law"],
              "g722");
    ASSERT_EQ(Run({"sdp", "wide", "-o", out.string()}).status, 0);
    EXPECT_NE(ReadBytes((out / "wide-1.sdp").string())
                  .find("m=audio 5004 RTP/AVP 9\r\na=rtpmap:9 G722/8000\r\na=ptime:20\r\n"),
              std::string::npos);
    ASSERT_EQ(Run({"add-dest", "wide", "127.0.0.1", "5006", "--mode", "spa", "--control",
                   "127.0.0.1:6061"})
                  .status,
              0);
    const auto destinations =
        nlohmann::json::parse(Run({"show", "wide", "--json"}).out)["destinations"];
    EXPECT_EQ(destinations[0]["mode"], "rtp");
    EXPECT_EQ(destinations[1]["mode"], "spa");
    EXPECT_EQ(destinations[1]["control"], "127.0.0.1:6061");
    ASSERT_EQ(Run({"add-dest", "wide", "224.0.1.116", "5001", "--mode", "polycom", "--channel",
                   "49", "--caller", "Front desk", "--serial", "7"})
                  .status,
              0);
    const auto phones =
        nlohmann::json::parse(Run({"show", "wide", "--json"}).out)["destinations"][2];
    EXPECT_EQ(phones["mode"], "polycom");
    EXPECT_EQ(phones["channel"], 49);
    EXPECT_EQ(phones["caller"], "Front desk");
    EXPECT_EQ(phones["serial"], 7);
    EXPECT_NE(Run({"show", "wide"}).out.find("(Polycom channel 49, \"Front desk\")"),
              std::string::npos);
    ASSERT_EQ(Run({"add-file", "wide", tone}).status, 0);
    EXPECT_NE(Run({"sdp", "wide", "-o", out.string()}).err.find("mixes G.722 and mu-law files"),
              std::string::npos);
}

// convert --codec g722: a 44.1 kHz stereo file becomes G.722 (tag 0x65, 16 kHz mono, 64
// kbit/s, 4 bits a sample) that the program probes back and that decodes to a 6 kHz tone at
// its level, above the band mu-law keeps; mu-law stays the default. Other codecs are refused.
TEST_F(CliCommandsTest, ConvertsToG722OnRequest) {
    const std::string wide = (m_dir / "wide.wav").string();
    ASSERT_TRUE(WriteWave(wide, 1, 2, 44100, 16, SinePcm16(44100 * 2, 2, 44100, 6000, 12000)));
    const std::filesystem::path out = m_dir / "out";
    std::filesystem::create_directory(out);
    ASSERT_EQ(Run({"convert", wide, "-o", out.string(), "--codec", "g722"}).status, 0);
    const std::vector<uint8_t> g722 = ReadFile(out / "wide_convert.wav");
    ASSERT_GT(g722.size(), 58u + 15000);
    EXPECT_EQ(testsupport::GetU16(g722, 20), 0x65);
    EXPECT_EQ(testsupport::GetU16(g722, 22), 1);
    EXPECT_EQ(testsupport::GetU32(g722, 24), 16000u);
    EXPECT_EQ(testsupport::GetU32(g722, 28), 8000u);  // bytes a second
    EXPECT_EQ(testsupport::GetU16(g722, 32), 1);
    EXPECT_EQ(testsupport::GetU16(g722, 34), 4);
    ASSERT_EQ(std::string(g722.begin() + 50, g722.begin() + 54), "data");
    const uint32_t bytes = testsupport::GetU32(g722, 54);
    ASSERT_EQ(bytes, g722.size() - 58);
    EXPECT_NEAR(bytes, 2 * 8000, 100);
    const Result probed = Run({"probe", "--json", (out / "wide_convert.wav").string()});
    const auto json = nlohmann::json::parse(probed.out);
    EXPECT_EQ(json[0]["supported"], true) << probed.out;
    EXPECT_EQ(json[0]["format"]["sample_rate"], 16000) << probed.out;

    G722Decoder decoder;
    std::vector<int16_t> decoded(bytes * 2);
    decoder.Decode(g722.data() + 58, bytes, decoded.data());
    const codecmedia::ToneFit fit = codecmedia::FitTone(decoded, 16000, 6000, 1600);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / 12000), 0.0, 1.0) << fit.amplitude;
    EXPECT_GT(fit.snrDb, 20.0);

    ASSERT_EQ(Run({"convert", wide, "-o", out.string(), "--overwrite"}).status, 0);
    const std::vector<uint8_t> mulaw = ReadFile(out / "wide_convert.wav");
    ASSERT_GT(mulaw.size(), 58u);
    EXPECT_EQ(testsupport::GetU16(mulaw, 20), 7);
    EXPECT_EQ(testsupport::GetU32(mulaw, 24), 8000u);
    EXPECT_EQ(Run({"convert", wide, "--codec", "a"}).status, kUsageError);
}

// A damaged store is set aside and said so once, with the file it went to; a folder where
// the store should be is an error, not an empty store; a create that cannot be stored whole
// leaves nothing behind.
TEST_F(CliCommandsTest, StoreTroubleIsToldAndAFailedCreateLeavesNothing) {
    ASSERT_EQ(Run({"create", "Lobby"}).status, 0);
    WriteBytes(UserFile(), std::string(4096, 'G'));
    const Result listed = Run({"list"});
    EXPECT_EQ(listed.status, 0);
    const std::string said = "sonvex-cli: the playlist store was damaged; it was set aside as " +
                             UserFile() + ".corrupt-";
    EXPECT_EQ(listed.err.rfind(said, 0), 0u) << listed.err;
    EXPECT_EQ(std::count(listed.err.begin(), listed.err.end(), '\n'), 1) << listed.err;
    ASSERT_EQ(QuarantinedFiles().size(), 1u);
    EXPECT_NE(listed.err.find(QuarantinedFiles()[0]), std::string::npos);
    EXPECT_TRUE(Run({"list"}).err.empty());  // told once

    // A stream run for scripts hears it as its first event, before it fails.
    WriteBytes(UserFile(), std::string(4096, 'G'));
    const Result streamed = Run({"stream", "Lobby", "--json"});
    EXPECT_EQ(streamed.status, 1);
    const auto event = nlohmann::json::parse(streamed.out.substr(0, streamed.out.find('\n')));
    EXPECT_EQ(event["event"], "store-set-aside");
    EXPECT_EQ(event["file"].get<std::string>().rfind(UserFile() + ".corrupt-", 0), 0u);
    EXPECT_EQ(streamed.err.rfind(said, 0), 0u) << streamed.err;
    EXPECT_NE(streamed.err.find("there is no playlist named \"Lobby\""), std::string::npos);

    std::filesystem::remove(UserFile());
    std::filesystem::create_directory(UserFile());
    for (const char* command : {"list", "show", "stream"}) {
        std::vector<std::string> args = {command};
        if (std::string(command) != "list") {
            args.emplace_back("Lobby");
        }
        const Result r = Run(args);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_EQ(r.err,
                  "sonvex-cli: the playlist store " + UserFile() + " is a folder, not a file\n");
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    std::filesystem::remove(UserFile());

    // The disk fills up while the playlist is created, at every point of its writing: the
    // create either stores it whole or fails and stores nothing. A reader holding its
    // snapshot keeps the journal growing, so that the limit meets the writes.
    ASSERT_EQ(Run({"create", "First"}).status, 0);
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t reader = ::fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        const platform::RegistryHive hive(platform::RegistryRoot::CurrentUser,
                                          platform::RegistryHive::Mode::OpenExisting);
        platform::RegistryTransaction snapshot(hive, platform::RegistryTransaction::Kind::Read);
        platform::RegistryKey base;
        const char byte = hive.OpenKey(PlaylistStore::kBasePath, base) ? 'y' : 'n';
        char done = 0;
        const bool told = ::write(ready[1], &byte, 1) == 1 && ::read(release[0], &done, 1) >= 0;
        ::_exit(told ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'y');
    int failures = 0;
    constexpr off_t kFrameBytes = 24 + 4096;  // a journal frame: its header and one page
    for (int frames = 0; frames < 12; ++frames) {
        const off_t journal = static_cast<off_t>(std::filesystem::file_size(UserFile() + "-wal"));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlim_t bytes = static_cast<rlim_t>(journal + frames * kFrameBytes);
            const rlimit limit{bytes, bytes};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const Result r = Run({"create", "Second"});
            ::_exit(r.status == 0                                         ? 0
                    : r.err.find("the disk is full") != std::string::npos ? 1
                                                                          : 2);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 2) << frames;
        const bool created = WEXITSTATUS(status) == 0;
        EXPECT_EQ(Run({"list"}).out, created ? "First\nSecond\n" : "First\n") << frames;
        if (created) {
            ASSERT_EQ(Run({"delete", "Second"}).status, 0);
        } else {
            ++failures;
        }
    }
    ASSERT_EQ(::write(release[1], &byte, 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(reader, &status, 0), reader);
    for (const int fd : {ready[0], ready[1], release[0], release[1]}) {
        ::close(fd);
    }
    EXPECT_GT(failures, 0);   // the limit did meet the writes
    EXPECT_LT(failures, 12);  // and let a whole create through in the end
    EXPECT_EQ(Run({"list"}).out, "First\n");
}

// stream runs the playlist through the engine to its destinations and reports as it goes;
// it ends on its time or on SIGTERM with success, and fails when no file can be opened.
TEST_F(CliCommandsTest, StreamEndsOnItsTimeOrASignalAndFailsWhenNothingOpens_PageAlone) {
    testsupport::LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    const std::string port = std::to_string(receiver.Port());
    const std::string tone = Tone("tone.wav", 10);
    ASSERT_EQ(Run({"create", "p"}).status, 0);
    EXPECT_EQ(Run({"stream", "p"}).status, 1);  // no files
    ASSERT_EQ(Run({"add-file", "p", tone}).status, 0);
    EXPECT_NE(Run({"stream", "p"}).err.find("has no destinations"), std::string::npos);
    ASSERT_EQ(Run({"add-dest", "p", "127.0.0.1", port}).status, 0);

    const Result timed = Run({"stream", "p", "--json", "--duration", "1.2", "--volume", "-3"});
    ASSERT_EQ(timed.status, 0) << timed.err;
    std::vector<nlohmann::json> events;
    std::istringstream lines(timed.out);
    for (std::string line; std::getline(lines, line);) {
        events.push_back(nlohmann::json::parse(line));
    }
    ASSERT_GE(events.size(), 3u) << timed.out;
    EXPECT_EQ(events.front()["event"], "started");
    EXPECT_EQ(events.front()["name"], "tone.wav");
    EXPECT_EQ(events.front()["duration_seconds"], 10);
    EXPECT_EQ(events[events.size() - 2]["event"], "finished");
    EXPECT_EQ(events.back(), (nlohmann::json{{"event", "ended"}, {"reason", "duration"}}));
    const auto first = receiver.Receive();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->size(), 12u + 160u);  // 20 ms of mu-law behind the RTP header
    EXPECT_EQ((*first)[1] & 0x7F, 0);      // PCMU

    // SIGTERM once the packets flow: the packet in progress goes out, and the run ends well.
    receiver.Drain();
    std::thread terminate([&receiver] {
        if (receiver.Receive(5000)) {
            ::kill(::getpid(), SIGTERM);
        }
    });
    const Result signalled = Run({"stream", "p", "--loop"});
    terminate.join();
    EXPECT_EQ(signalled.status, 0) << signalled.err;
    EXPECT_NE(signalled.out.find("Streamed 1/1 tone.wav: "), std::string::npos) << signalled.out;

    // A page alone from a device that needs no hardware (an ALSA file PCM playing a tone),
    // and one from a device that does not exist.
    ASSERT_TRUE(testsupport::MakeToneDevice(m_dir, 1000.0));
    receiver.Drain();
    // The device has no clock (it reads a second of tone as fast as asked); its packets are
    // held to real time all the same.
    const auto before = std::chrono::steady_clock::now();
    const Result paged =
        Run({"page", "p", "--device", "tone", "--law", "a", "--duration", "0.8", "--json"});
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_EQ(paged.status, 0) << paged.err << paged.out;
    EXPECT_NE(paged.out.find(R"({"event":"ended","reason":"duration",)"), std::string::npos)
        << paged.out;
    const auto page = receiver.Receive();
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->size(), 12u + 160u);
    EXPECT_EQ((*page)[1], 0x80 | 8);                // marker, PCMA
    EXPECT_EQ(receiver.TakeAll().size() + 1, 40u);  // 0.8 s of 20 ms packets
    EXPECT_GE(took, std::chrono::milliseconds(700)) << "not held to real time";
    // G.722 live: captured at 16 kHz, still 160 bytes a packet on the 8 kHz RTP clock.
    receiver.Drain();
    EXPECT_EQ(Run({"page", "p", "--device", "tone", "--law", "g722", "--duration", "0.2"}).status,
              0);
    const auto wide = receiver.Receive();
    ASSERT_TRUE(wide.has_value());
    EXPECT_EQ(wide->size(), 12u + 160u);
    EXPECT_EQ((*wide)[1], 0x80 | 9);  // marker, G722
    const auto next = receiver.Receive();
    ASSERT_TRUE(next.has_value());
    const auto timestamp = [](const std::vector<uint8_t>& d) {
        return uint32_t{d[4]} << 24 | uint32_t{d[5]} << 16 | uint32_t{d[6]} << 8 | d[7];
    };
    EXPECT_EQ(timestamp(*next) - timestamp(*wide), 160u);
    const Result missing = Run({"page", "p", "--device", "nosuchdevice"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("the capture device \"nosuchdevice\": cannot be opened"),
              std::string::npos)
        << missing.err;
    // A device whose open never ends (a FIFO nobody writes): a signal ends the page at once,
    // and without one it is given up after a bounded wait.
    const std::filesystem::path hung = m_dir / "hung.raw";
    ASSERT_EQ(::mkfifo(hung.c_str(), 0600), 0);
    ASSERT_TRUE(testsupport::DeclareFilePcms(m_dir, {{"hung", hung}}));
    Child waiting = Spawn({"page", "p", "--device", "hung", "--json"}, "hung.err");
    ASSERT_GT(waiting.pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(::kill(waiting.pid, SIGTERM), 0);
    EXPECT_EQ(Reap(waiting), 0) << ReadBytes(m_dir / "hung.err");
    const Result given = Run({"page", "p", "--device", "hung"});
    EXPECT_EQ(given.status, 1);
    EXPECT_NE(given.err.find("the capture device \"hung\" did not open within 3 s"),
              std::string::npos)
        << given.err;

    std::filesystem::remove(tone);
    const Result nothing = Run({"stream", "p", "--loop"});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_NE(nothing.err.find("failed to stream 1/1 tone.wav: No such file or directory"),
              std::string::npos)
        << nothing.err;
    EXPECT_NE(nothing.err.find("no file of the playlist \"p\" could be streamed"),
              std::string::npos)
        << nothing.err;
}

// A page from another process takes a running stream over: the stream's senders carry it,
// sequence numbers running on, the marker on its first packet, and the file starts over
// when it ends. One page at a time; one whose process is killed ends; a page whose stream
// ends is told so. The pages' device is an ALSA file PCM reading a tone (read in a burst),
// or a FIFO the test feeds (a page that lasts until the test lets it end).
TEST_F(CliCommandsTest, APageFromAnotherProcessTakesTheStreamOverAndTheFileResumes) {
    testsupport::LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    // The page socket is one per user and playlist: a name no other test run shares.
    const std::string name = "Hall-" + std::to_string(::getpid());
    const std::string file = (m_dir / "file.wav").string();
    ASSERT_TRUE(WriteWave(file, 1, 1, 8000, 16, SinePcm16(8000 * 60, 1, 8000, 997, 8000)));
    ASSERT_EQ(Run({"create", name}).status, 0);
    ASSERT_EQ(Run({"add-file", name, file}).status, 0);
    ASSERT_EQ(Run({"add-dest", name, "127.0.0.1", std::to_string(receiver.Port())}).status, 0);
    const std::filesystem::path live = m_dir / "live.raw";
    ASSERT_EQ(::mkfifo(live.c_str(), 0600), 0);
    ASSERT_TRUE(testsupport::MakeToneDevice(m_dir, 1000.0));
    ASSERT_TRUE(
        testsupport::DeclareFilePcms(m_dir, {{"tone", m_dir / "tone.raw"}, {"live", live}}));
    // Never blocks, and keeps the FIFO open for writing whoever reads it.
    const int feed = ::open(live.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(feed, 0);
    const std::vector<uint8_t> block = SinePcm16(960, 1, 48000, 1000.0, 12000.0);  // 20 ms
    const auto feedOnce = [&] { return ::write(feed, block.data(), block.size()) > 0; };
    // A page's first packet needs its 20 ms and the rate converter's few beyond them.
    const auto feedFirst = [&] { return feedOnce() && feedOnce(); };

    Child stream = Spawn({"stream", name, "--json"}, "stream.err");
    ASSERT_GT(stream.pid, 0);
    ASSERT_TRUE(WaitFor(stream, "started").is_object()) << ReadBytes((m_dir / "stream.err"));
    const auto first = receiver.Receive(5000);
    ASSERT_TRUE(first.has_value());

    // The playlist's name as the store compares it: without case.
    const Result paged = Run({"page", "hall-" + std::to_string(::getpid()), "--device", "tone",
                              "--duration", "0.5", "--json"});
    EXPECT_EQ(paged.status, 0) << paged.err;
    std::vector<nlohmann::json> said;
    std::istringstream lines(paged.out);
    for (std::string line; std::getline(lines, line);) {
        said.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(said.size(), 2u) << paged.out;
    EXPECT_EQ(said[0],
              (nlohmann::json{{"event", "page-started"}, {"device", "tone"}, {"takeover", true}}));
    EXPECT_EQ(said[1]["reason"], "duration") << paged.out;
    EXPECT_GT(said[1]["latency"]["packets"].get<int>(), 0) << paged.out;
    EXPECT_TRUE(said[1]["latency"].contains("p99_ms"));
    EXPECT_EQ(WaitFor(stream, "page-started")["device"], "tone");
    EXPECT_EQ(WaitFor(stream, "page-ended")["failed"], false);
    EXPECT_EQ(WaitFor(stream, "started")["index"], 1);

    // What the receiver got: one run of sequence numbers through the file, the page and the
    // file again from its first packet; the page's first packet alone carries the marker.
    std::vector<std::vector<uint8_t>> packets = {*first};
    size_t marked = 0;
    size_t resumed = 0;
    const std::vector<uint8_t> firstPayload(first->begin() + 12, first->end());
    while (resumed == 0 && packets.size() < 2000) {
        const auto packet = receiver.Receive(5000);
        ASSERT_TRUE(packet.has_value()) << packets.size() << " packets";
        ASSERT_EQ(packet->size(), 172u);
        const uint16_t last = static_cast<uint16_t>(packets.back()[2] << 8 | packets.back()[3]);
        EXPECT_EQ(static_cast<uint16_t>((*packet)[2] << 8 | (*packet)[3]),
                  static_cast<uint16_t>(last + 1));
        const bool marker = ((*packet)[1] & 0x80) != 0;
        if (marker && marked == 0) {
            marked = packets.size();
        } else if (marked > 0 &&
                   std::equal(firstPayload.begin(), firstPayload.end(), packet->begin() + 12)) {
            EXPECT_TRUE(marker) << "the file's return is a change of source";
            resumed = packets.size();
        } else {
            EXPECT_FALSE(marker) << "a marker within a source";
        }
        packets.push_back(*packet);
    }
    ASSERT_GT(marked, 0u);
    EXPECT_GE(resumed - marked, 20u);  // the page: 0.5 s in 20 ms packets
    EXPECT_LE(resumed - marked, 26u);

    // A page that lasts, fed through the FIFO; a second is refused while it runs.
    Child pager = Spawn({"page", name, "--device", "live", "--json"}, "pager.err");
    ASSERT_GT(pager.pid, 0);
    ASSERT_TRUE(feedFirst());
    ASSERT_TRUE(WaitFor(pager, "page-started").is_object()) << ReadBytes((m_dir / "pager.err"));
    const Result second = Run({"page", name, "--device", "tone", "--duration", "0.2"});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "sonvex-cli: the stream of \"" + name +
                              "\" refused the page: another page is running on it\n");
    // Killed, its page ends in the stream's process (once the device gives a block).
    ASSERT_EQ(::kill(pager.pid, SIGKILL), 0);
    EXPECT_EQ(Reap(pager), -1);
    EXPECT_EQ(WaitFor(stream, "page-started")["device"], "live");
    nlohmann::json ended;
    for (int fed = 0; fed < 400 && !ended.is_object(); ++fed) {
        feedOnce();
        ended = WaitFor(stream, "page-ended", 50);
    }
    ASSERT_TRUE(ended.is_object()) << "the killed page went on";
    EXPECT_EQ(ended["failed"], false);

    // The stream ends under a page: the paging process is told and fails.
    Child under = Spawn({"page", name, "--device", "live", "--json"}, "under.err");
    ASSERT_GT(under.pid, 0);
    ASSERT_TRUE(feedFirst());
    ASSERT_TRUE(WaitFor(under, "page-started").is_object()) << ReadBytes((m_dir / "under.err"));
    ASSERT_EQ(::kill(stream.pid, SIGTERM), 0);
    nlohmann::json told;
    for (int fed = 0; fed < 400 && !told.is_object(); ++fed) {
        feedOnce();
        told = WaitFor(under, "ended", 50);
    }
    EXPECT_EQ(told["reason"], "stream-ended") << told;
    EXPECT_EQ(Reap(under), 1);
    EXPECT_EQ(ReadBytes((m_dir / "under.err")),
              "sonvex-cli: the stream of \"" + name + "\" ended, and the page with it\n");
    EXPECT_EQ(WaitFor(stream, "ended")["reason"], "signal");
    EXPECT_EQ(Reap(stream), 0) << ReadBytes((m_dir / "stream.err"));
    ::close(feed);
}

// The page socket is a file in a folder only the user can enter (closed to others when it
// was not; a page goes out alone when the folder cannot be used), replaces one a dead stream
// left, and goes with its stream. A connection that sends garbage, or nothing for 3 s, is
// told why and let go, and a page comes through after it; a device name with a control
// character is refused on either side.
TEST_F(CliCommandsTest, ThePageSocketIsPrivateAndLetsGoOfGarbageSilenceAndControlCharacters) {
    testsupport::LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    ASSERT_EQ(Run({"create", "Lobby"}).status, 0);
    ASSERT_EQ(Run({"add-file", "Lobby", Tone("tone.wav", 60)}).status, 0);
    ASSERT_EQ(Run({"add-dest", "Lobby", "127.0.0.1", std::to_string(receiver.Port())}).status, 0);
    ASSERT_TRUE(testsupport::MakeToneDevice(m_dir, 1000.0));
    ASSERT_TRUE(testsupport::DeclareFilePcms(m_dir, {{"tone", m_dir / "tone.raw"}}));
    const std::filesystem::path folder = m_dir / "run" / "sonvex";
    const std::string path = (folder / "page-lobby").string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const auto connectRaw = [&] {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (fd >= 0 &&
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    };
    // The reply to a connection, and whether it was closed after it, within `waitMs`.
    const auto replyOf = [](int fd, int waitMs) {
        nlohmann::json reply;
        char bytes[8192];
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, waitMs) == 1) {
            const ssize_t got = ::recv(fd, bytes, sizeof bytes, 0);
            reply = got > 0 ? nlohmann::json::parse(bytes, bytes + got, nullptr, false) : "closed";
            ready.revents = 0;
            const bool closed = ::poll(&ready, 1, 1000) == 1 && ::recv(fd, bytes, 1, 0) == 0;
            reply = {{"reply", reply}, {"closed", closed}};
        }
        ::close(fd);
        return reply;
    };
    // A socket file a stream that died left behind.
    // Left open to others by someone: the stream closes it.
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    {
        const int stale = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(stale);
    }
    Child stream = Spawn({"stream", "Lobby", "--json"}, "stream.err");
    ASSERT_GT(stream.pid, 0);
    ASSERT_TRUE(WaitFor(stream, "started").is_object()) << ReadBytes((m_dir / "stream.err"));
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const int garbage = connectRaw();
    ASSERT_GE(garbage, 0);
    ASSERT_EQ(::send(garbage, "{\"request\":", 11, 0), 11);
    EXPECT_EQ(replyOf(garbage, 5000),
              (nlohmann::json{
                  {"reply", {{"reply", "refused"}, {"reason", "the request was not understood"}}},
                  {"closed", true}}));
    const int control = connectRaw();
    const std::string odd = nlohmann::json{
        {"request", "page"},
        {"device", std::string("to\0ne", 5)},
        {"law", 7},
        {"ptime", 20},
        {"duration_ms", 200}}.dump();
    ASSERT_EQ(::send(control, odd.data(), odd.size(), 0), static_cast<ssize_t>(odd.size()));
    EXPECT_EQ(replyOf(control, 5000)["reply"]["reason"],
              "the capture device's name holds a control character");
    const Result bell = Run({"page", "Lobby", "--device", "to\x07ne"});
    EXPECT_EQ(bell.status, 1);
    EXPECT_EQ(bell.err, "sonvex-cli: the capture device's name holds a control character\n");

    // Silent: it holds the place until it is let go, then a page comes through.
    const int silent = connectRaw();
    ASSERT_GE(silent, 0);
    const Result held = Run({"page", "Lobby", "--device", "tone", "--duration", "0.2"});
    EXPECT_NE(held.err.find("another page is running on it"), std::string::npos) << held.err;
    EXPECT_EQ(replyOf(silent, 6000),
              (nlohmann::json{
                  {"reply", {{"reply", "refused"}, {"reason", "it asked for nothing within 3 s"}}},
                  {"closed", true}}));
    const Result paged = Run({"page", "Lobby", "--device", "tone", "--duration", "0.2"});
    EXPECT_EQ(paged.status, 0) << paged.err;

    ASSERT_EQ(::kill(stream.pid, SIGTERM), 0);
    EXPECT_EQ(Reap(stream), 0) << ReadBytes((m_dir / "stream.err"));
    EXPECT_FALSE(std::filesystem::exists(path)) << "the socket outlived its stream";

    // A folder that cannot be used: no stream can listen there, so the page goes out alone.
    std::filesystem::remove_all(folder);
    WriteBytes(folder.string(), "not a folder");
    const Result alone = Run({"page", "Lobby", "--device", "tone", "--duration", "0.2"});
    EXPECT_EQ(alone.status, 0) << alone.err;
    EXPECT_NE(alone.err.find("sonvex-cli: the page sockets' folder " + folder.string() +
                             " is not a folder; paging alone\n"),
              std::string::npos)
        << alone.err;
}

}  // namespace
