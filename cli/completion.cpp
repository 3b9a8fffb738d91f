// complete: what the shells' completion scripts ask. Given the words typed after the
// program's name, the last one partly, it prints the words that may come there, one a line:
// commands, a command's options, playlist or zone names from the store; ":files" when a
// file's name comes there, for the shell to complete itself.

#include <algorithm>
#include <ostream>

#include "clicommands.h"
#include "commandtree.h"
#include "playlist/zonestore.h"

namespace clicommands {
namespace {

std::vector<std::string> PlaylistNames() {
    PlaylistDocument document;
    std::vector<std::string> names;
    document.ListPlaylists(names);
    return names;
}

std::vector<std::string> ZoneNames() {
    ZoneStore store;
    std::vector<Zone> zones;
    std::vector<std::string> names;
    if (store.List(zones)) {
        for (const Zone& zone : zones) {
            names.push_back(zone.Name);
        }
    }
    names.emplace_back(ZoneStore::kAllZone);
    return names;
}

// The words that may stand for what an argument or option named `what` takes.
std::vector<std::string> ValuesOf(const std::string& what) {
    if (what == "name" || what == "playlist" || what == "--to") {
        return PlaylistNames();
    }
    if (what == "zone" || what == "--zone") {
        return ZoneNames();
    }
    if (what == "path" || what == "input" || what == "file" || what == "--audio-dir" ||
        what == "-o" || what == "--tls-cert" || what == "--tls-key") {
        return {":files"};
    }
    return {};
}

std::vector<std::string> OptionNames(const CLI::App& command) {
    std::vector<std::string> names;
    for (const CLI::Option* option : command.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            names.push_back("--" + name);
        }
    }
    return names;
}

// The option of `command` that `word` names, or null.
const CLI::Option* OptionNamed(const CLI::App& command, const std::string& word) {
    for (const CLI::Option* option : command.get_options()) {
        if (option->check_name(word.substr(0, word.find('=')))) {
            return option;
        }
    }
    return nullptr;
}

std::vector<std::string> Candidates(const std::vector<std::string>& words) {
    CliOptions scratch;
    CommandTree tree(scratch);
    CLI::App* command = &tree.app;
    size_t positional = 0;
    const std::string partial = words.empty() ? std::string() : words.back();
    // The words before the last: commands, options with their values, positionals.
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        const std::string& word = words[i];
        CLI::App* sub = nullptr;
        for (CLI::App* c : command->get_subcommands([](CLI::App*) { return true; })) {
            sub = c->check_name(word) ? c : sub;
        }
        if (sub != nullptr && positional == 0) {
            command = sub;
            continue;
        }
        const CLI::Option* option = OptionNamed(*command, word);
        if (option != nullptr && option->get_type_size() != 0 &&
            word.find('=') == std::string::npos) {
            if (i + 2 == words.size()) {
                return ValuesOf(word);  // the option's value is being typed
            }
            ++i;
        } else if (option == nullptr) {
            ++positional;
        }
    }
    if (partial.rfind("-", 0) == 0) {
        return OptionNames(*command);
    }
    std::vector<std::string> names;
    for (CLI::App* c : command->get_subcommands([](CLI::App*) { return true; })) {
        if (!c->get_group().empty()) {
            names.push_back(c->get_name());
        }
    }
    if (!names.empty()) {
        return names;
    }
    std::vector<const CLI::Option*> positionals;
    for (const CLI::Option* option : command->get_options()) {
        if (option->get_lnames().empty() && option->get_snames().empty()) {
            positionals.push_back(option);
        }
    }
    if (positionals.empty()) {
        return {};
    }
    // A list (add-file's files) takes every word after it.
    const CLI::Option* at = positionals[std::min(positional, positionals.size() - 1)];
    return positional < positionals.size() || at->get_expected_max() > 1
               ? ValuesOf(at->get_name())
               : std::vector<std::string>{};
}

}  // namespace

int Complete(const CliOptions& options, CliConsole& console) {
    const std::vector<std::string>& words = options.paths;
    const std::string partial = words.empty() ? std::string() : words.back();
    for (const std::string& candidate : Candidates(words)) {
        if (candidate == ":files" || candidate.rfind(partial, 0) == 0) {
            console.out << candidate << '\n';
        }
    }
    console.out << std::flush;
    return kSuccess;
}

}  // namespace clicommands
