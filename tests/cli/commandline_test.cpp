// The command line: arguments and options reach the commands as typed, anything out of
// range is a usage error before any command runs, and help and the version answer alone.

#include "cli/commandline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "sonvex/buildconfig.h"
#include "support/tempdir.h"

namespace {

struct Parsed {
    int status = 0;
    CliOptions options;
    std::string out;
    std::string err;
};

Parsed Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "sonvex-cli");
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    Parsed parsed;
    std::ostringstream out;
    std::ostringstream err;
    parsed.status =
        ParseCommandLine(static_cast<int>(argv.size()), argv.data(), parsed.options, out, err);
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

TEST(CommandLineTest, ArgumentsAndOptionsReachTheCommand) {
    Parsed p = Parse({"add-file", "lobby", "a.wav", "b.mp3", "--law", "a", "--ptime", "160"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::AddFile);
    EXPECT_EQ(p.options.name, "lobby");
    EXPECT_EQ(p.options.paths, (std::vector<std::string>{"a.wav", "b.mp3"}));
    EXPECT_EQ(p.options.format, 6);
    EXPECT_EQ(p.options.packetization, 160);

    p = Parse({"add-file", "--ptime", "40", "lobby", "a.wav"});  // options anywhere
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.format, 7);  // mu-law unless told
    EXPECT_EQ(p.options.packetization, 40);
    EXPECT_EQ(Parse({"add-file", "lobby", "a.wav", "--law", "g722"}).options.format, 0x65);
    EXPECT_EQ(Parse({"page", "lobby", "--law", "g722"}).options.format, 0x65);

    p = Parse({"add-dest", "lobby", "239.1.1.1", "5004", "--ttl", "4", "--iface", "eth0"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::AddDest);
    EXPECT_EQ(p.options.address, "239.1.1.1");
    EXPECT_EQ(p.options.port, 5004);
    EXPECT_EQ(p.options.ttl, 4);
    EXPECT_TRUE(p.options.ttlGiven);
    EXPECT_EQ(p.options.interfaceName, "eth0");

    p = Parse({"stream", "lobby", "--loop", "--volume", "-6", "--duration", "2.5", "--json"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::Stream);
    EXPECT_TRUE(p.options.loop);
    EXPECT_EQ(p.options.volumeDb, -6);
    EXPECT_DOUBLE_EQ(p.options.durationSeconds, 2.5);
    EXPECT_TRUE(p.options.json);

    testsupport::TempDir dir;
    p = Parse({"convert", "a.mp3", "b.wav", "-o", dir.Path().string()});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::Convert);
    EXPECT_EQ(p.options.paths.size(), 2u);
    EXPECT_EQ(p.options.outputDir, dir.Path().string());
}

TEST(CommandLineTest, UsageErrorsStopBeforeAnyCommand) {
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"bogus"},
        {"show"},
        {"list", "extra"},
        {"add-file", "lobby"},
        {"add-file", "lobby", "a.wav", "--ptime", "30"},
        {"add-file", "lobby", "a.wav", "--law", "x"},
        {"add-dest", "lobby", "1.2.3.4", "0"},
        {"add-dest", "lobby", "1.2.3.4", "65536"},
        {"add-dest", "lobby", "300.1.1.1", "5004"},  // refused alike, as a port out of range
        {"add-dest", "lobby", "239.1.1.1", "5004", "--ttl", "256"},
        {"add-dest", "lobby", "239.1.1.1", "5004", "--ttl", "0"},
        {"remove-file", "lobby", "0"},
        {"remove-dest", "lobby", "-1"},
        {"stream", "lobby", "--volume", "10"},
        {"stream", "lobby", "--duration", "0"},
        {"page", "lobby", "--ptime", "30"},
        {"page", "lobby", "--law", "x"},
        {"convert", "a.mp3", "-o", "/nonexistent-folder/x"},
        {"list", "--version"},
    };
    for (const auto& args : refused) {
        const Parsed p = Parse(args);
        EXPECT_EQ(p.status, kUsageError) << ::testing::PrintToString(args);
        // One line, in the words of every other message.
        EXPECT_EQ(p.err.rfind("sonvex-cli: ", 0), 0u) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
        EXPECT_TRUE(p.out.empty()) << ::testing::PrintToString(args);
    }
    EXPECT_EQ(Parse({"bogus"}).err,
              "sonvex-cli: unknown command \"bogus\"; sonvex-cli --help lists the commands\n");
    EXPECT_EQ(Parse({"add-dest", "lobby", "1.2.3.4", "0"}).err,
              "sonvex-cli: the port must be a whole number from 1 to 65535, not \"0\"\n");
    EXPECT_EQ(Parse({"add-dest", "lobby", "300.1.1.1", "5004"}).err,
              "sonvex-cli: 300.1.1.1: IP address must be four numbers of 0-255\n");
    EXPECT_EQ(Parse({"stream", "lobby", "--duration", "0"}).err,
              "sonvex-cli: the duration must be a number of seconds more than 0, at most "
              "31536000, not \"0\"\n");
}

// Numbers are decimal as a person writes them: no base prefix, no octal leading zero, no
// exponent, nothing that is not a number; a duration that would overflow the clock is out
// of range.
TEST(CommandLineTest, NumbersAreReadStrictly) {
    const std::vector<std::vector<std::string>> refused = {
        {"add-dest", "lobby", "1.2.3.4", "0x10"},
        {"add-dest", "lobby", "1.2.3.4", "010"},
        {"add-dest", "lobby", "1.2.3.4", "+5004"},
        {"add-dest", "lobby", "1.2.3.4", "5004.0"},
        {"add-dest", "lobby", "1.2.3.4", " 5004"},
        {"add-dest", "lobby", "239.1.1.1", "5004", "--ttl", "0x4"},
        {"add-file", "lobby", "a.wav", "--ptime", "020"},
        {"remove-file", "lobby", "0x1"},
        {"remove-dest", "lobby", "99999999999999999999"},
        {"stream", "lobby", "--volume", "-09"},
        {"stream", "lobby", "--volume", "1e0"},
        {"stream", "lobby", "--duration", "1e10"},
        {"stream", "lobby", "--duration", "nan"},
        {"stream", "lobby", "--duration", "inf"},
        {"stream", "lobby", "--duration", "0x10"},
        {"stream", "lobby", "--duration", "31536000.5"},
        {"stream", "lobby", "--duration", "."},
    };
    for (const auto& args : refused) {
        const Parsed p = Parse(args);
        EXPECT_EQ(p.status, kUsageError) << ::testing::PrintToString(args);
        EXPECT_NE(p.err.find("not \"" + args.back() + "\""), std::string::npos) << p.err;
    }
    Parsed p = Parse({"add-dest", "lobby", "1.2.3.4", "65535", "--ttl", "255"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.port, 65535);
    EXPECT_EQ(p.options.ttl, 255);
    p = Parse({"stream", "lobby", "--volume", "-9", "--duration", "31536000"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.volumeDb, -9);
    EXPECT_DOUBLE_EQ(p.options.durationSeconds, 31536000);
    p = Parse({"stream", "lobby", "--duration", ".5"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_DOUBLE_EQ(p.options.durationSeconds, 0.5);
    p = Parse({"remove-file", "lobby", "10"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.index, 10u);
}

// set's priority takes a number or a word, its ducking level a minus sign; everything else,
// and a number written another way, is a usage error.
TEST(CommandLineTest, SetReadsPrioritiesAndDuckLevelsStrictly) {
    Parsed p = Parse({"set", "Bells", "--priority", "emergency", "--role", "announcement",
                      "--interrupted", "mute", "--duck-db", "-60"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::Set);
    EXPECT_EQ(p.options.priority, "emergency");
    EXPECT_EQ(p.options.role, "announcement");
    EXPECT_EQ(p.options.interrupted, "mute");
    EXPECT_TRUE(p.options.duckDbGiven);
    EXPECT_EQ(p.options.duckDb, -60);
    p = Parse({"set", "Bells", "--priority", "0", "--duck-db", "0"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.priority, "0");
    EXPECT_TRUE(p.options.duckDbGiven);
    EXPECT_EQ(p.options.duckDb, 0);
    p = Parse({"set", "Bells", "--sap", "on"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_FALSE(p.options.duckDbGiven);
    EXPECT_TRUE(p.options.priority.empty());

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"set", "Bells", "--priority", "101"},
             {"set", "Bells", "--priority", "-1"},
             {"set", "Bells", "--priority", "050"},
             {"set", "Bells", "--priority", "Emergency"},
             {"set", "Bells", "--priority", "high"},
             {"set", "Bells", "--role", "music"},
             {"set", "Bells", "--interrupted", "pause"},
             {"set", "Bells", "--duck-db", "1"},
             {"set", "Bells", "--duck-db", "-61"},
             {"set", "Bells", "--duck-db", "-1.5"},
             {"set", "Bells", "--duck-db", "+3"},
         }) {
        p = Parse(args);
        EXPECT_EQ(p.status, kUsageError) << ::testing::PrintToString(args);
        EXPECT_NE(p.err.find("not \"" + args.back() + "\""), std::string::npos) << p.err;
    }
    EXPECT_EQ(Parse({"set", "Bells", "--priority", "101"}).err,
              "sonvex-cli: the priority must be a whole number from 0 to 100, emergency or "
              "default, not \"101\"\n");
}

// The groups' commands parse as the others do; a group alone, or with a command it does not
// have, is told so in one line, and so is a time the shell split in two.
TEST(CommandLineTest, ZoneAndScheduleCommandsAreGroupsWithTheConventionsOfTheOthers) {
    Parsed p = Parse({"zone", "add-dest", "Yard", "239.1.1.1", "5004", "--ttl", "4"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::ZoneAddDest);
    EXPECT_EQ(p.options.zone, "Yard");
    EXPECT_EQ(p.options.address, "239.1.1.1");
    EXPECT_EQ(p.options.port, 5004);
    EXPECT_TRUE(p.options.ttlGiven);
    p = Parse({"zone", "remove-dest", "Yard", "2"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::ZoneRemoveDest);
    EXPECT_EQ(p.options.index, 2u);
    p = Parse({"zone", "list", "--json"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::ZoneList);
    EXPECT_TRUE(p.options.json);
    p = Parse({"schedule", "add", "Bells", "Mon..Fri 08:00", "--zone", "Yard", "--until",
               "Mon..Fri 08:05", "--catch-up"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::ScheduleAdd);
    EXPECT_EQ(p.options.name, "Bells");
    EXPECT_EQ(p.options.when, "Mon..Fri 08:00");
    EXPECT_EQ(p.options.zone, "Yard");
    EXPECT_EQ(p.options.until, "Mon..Fri 08:05");
    EXPECT_TRUE(p.options.catchUp);
    p = Parse({"schedule", "list"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.count, 3);
    p = Parse({"schedule", "list", "--count", "100", "--json"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.count, 100);
    p = Parse({"schedule", "remove", "4294967295"});
    ASSERT_EQ(p.status, kRunCommand) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::ScheduleRemove);
    EXPECT_EQ(p.options.id, 4294967295u);

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"zone"},
             {"zone", "bogus"},
             {"zone", "create"},
             {"zone", "create", "Yard", "Field"},
             {"zone", "add-dest", "Yard", "1.2.3.4"},
             {"zone", "add-dest", "Yard", "1.2.3.4", "0"},
             {"zone", "add-dest", "Yard", "239.1.1.1", "5004", "--ttl", "0"},
             {"zone", "remove-dest", "Yard", "0"},
             {"zone", "list", "extra"},
             {"zone", "--json"},
             {"schedule"},
             {"schedule", "add", "Bells"},
             {"schedule", "add", "Bells", "Mon..Fri", "08:00"},
             {"schedule", "add", "Bells", "daily", "--zone"},
             {"schedule", "list", "--count", "0"},
             {"schedule", "list", "--count", "101"},
             {"schedule", "remove", "0"},
             {"schedule", "remove", "4294967296"},
             {"schedule", "remove", "Bells"},
         }) {
        p = Parse(args);
        EXPECT_EQ(p.status, kUsageError) << ::testing::PrintToString(args);
        EXPECT_EQ(p.err.rfind("sonvex-cli: ", 0), 0u) << p.err;
        EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
    }
    EXPECT_EQ(Parse({"zone"}).err,
              "sonvex-cli: a zone command is required; sonvex-cli zone --help lists them\n");
    EXPECT_EQ(Parse({"zone", "bogus"}).err,
              "sonvex-cli: unknown zone command \"bogus\"; sonvex-cli zone --help lists them\n");
    EXPECT_EQ(Parse({"zone", "remove-dest", "Yard", "0"}).err,
              "sonvex-cli: the destination's number must be a whole number from 1 to 2147483647, "
              "not \"0\"\n");
    EXPECT_EQ(Parse({"schedule", "add", "Bells", "Mon..Fri", "08:00"}).err,
              "sonvex-cli: the time is one argument: put it in quotes, as in sonvex-cli schedule "
              "add Bells \"Mon..Fri 08:00\"\n");
    const Parsed help = Parse({"zone", "add-dest", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: sonvex-cli zone add-dest"), std::string::npos) << help.out;
}

// A word a letter or two from a command or option is answered with the one meant; one far
// from every one is only refused.
TEST(CommandLineTest, AMistypedCommandOrOptionNamesTheOneMeant) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"lsit"}, "unknown command \"lsit\" (did you mean \"list\"?)"},
        {{"add-des", "lobby"}, "(did you mean \"add-dest\"?)"},
        {{"list", "--jsn"}, "unknown option \"--jsn\" for list (did you mean \"--json\"?)"},
        {{"add-dest", "lobby", "239.1.1.1", "5004", "--tll=4"}, "(did you mean \"--ttl\"?)"},
        {{"zone", "craete", "Hall"}, "unknown zone command \"craete\" (did you mean \"create\"?)"},
        {{"schedule", "list", "--cuont", "2"}, "(did you mean \"--count\"?)"},
    };
    for (const auto& [args, said] : cases) {
        const Parsed p = Parse(args);
        EXPECT_EQ(p.status, kUsageError);
        EXPECT_NE(p.err.find(said), std::string::npos) << p.err;
    }
    EXPECT_EQ(Parse({"bogus"}).err.find("did you mean"), std::string::npos);
    EXPECT_EQ(Parse({"list", "--everything"}).err.find("did you mean"), std::string::npos);
}

TEST(CommandLineTest, HelpOfEachCommandAndTheVersionAnswerAlone) {
    for (const char* command : {"list", "show", "create", "delete", "add-file", "remove-file",
                                "add-dest", "remove-dest", "stream", "convert", "probe", "sdp"}) {
        const Parsed p = Parse({command, "--help"});
        EXPECT_EQ(p.status, 0) << command;
        EXPECT_NE(p.out.find(std::string("Usage: sonvex-cli ") + command), std::string::npos)
            << p.out;
    }
    // Ranges as a person reads them, not the parser's type names.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"add-dest", "--help"}, {"stream", "--help"}, {"schedule", "list", "--help"}}) {
        const Parsed p = Parse(args);
        EXPECT_EQ(p.out.find("INT:"), std::string::npos) << p.out;
        EXPECT_EQ(p.out.find("FLOAT:"), std::string::npos) << p.out;
    }
    EXPECT_NE(Parse({"add-dest", "--help"}).out.find("port 1 to 65535 REQUIRED"),
              std::string::npos);
    const Parsed help = Parse({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("add-dest"), std::string::npos);
    const Parsed version = Parse({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("sonvex-cli ") + sonvex::kVersion + "\n");
}

}  // namespace
