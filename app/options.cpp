#include "app/options.h"

#include <algorithm>
#include <array>
#include <vector>

#include "app/files.h"
#include "app/link.h"
#include "table/text.h"

namespace headlink {

namespace {

// One entry per option: the switch it sets, or the folder it names.
struct Entry {
    char shortName;
    const char* longName;
    bool Options::*flag;
    std::string Options::*folder;
};

constexpr std::array<Entry, 14> kOptions = {{
    {'C', "directory", nullptr, &Options::directory},
    {0, "game", nullptr, &Options::game},
    {0, "heads", nullptr, &Options::heads},
    {'n', "dry-run", &Options::dryRun, nullptr},
    {'v', "verbose", &Options::verbose, nullptr},
    {'q', "quiet", &Options::quiet, nullptr},
    {0, "strict", &Options::strict, nullptr},
    {0, "check-links", &Options::checkLinks, nullptr},
    {0, "outputs", &Options::outputs, nullptr},
    {0, "uninstall", &Options::uninstall, nullptr},
    {0, "force", &Options::force, nullptr},
    {0, "find-games", &Options::findGames, nullptr},
    {'h', "help", &Options::help, nullptr},
    {0, "version", &Options::version, nullptr},
}};

Result fail(std::string reason) { return Result::failure(Status::usage, std::move(reason)); }

// Texts are built a piece at a time throughout: GCC 12 warns wrongly
// (-Wrestrict) on chains of + with a literal first.

// `text` broken into lines of at most 80 characters, the later ones indented.
std::string wrapped(std::string_view text) {
    std::string out;
    std::size_t column = 0;  // characters on the line so far
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        const std::string_view word = text.substr(at, end - at);
        if (column > 0 && column + 1 + word.size() > 80) {
            out += "\n  ";
            column = 2;
        } else if (column > 0) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        at = end + 1;
    }
    out += '\n';
    return out;
}

}  // namespace

Result parseOptions(std::span<const std::string> args, Options* options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") break;  // everything after it is ignored
        if (arg.size() < 2 || arg[0] != '-') continue;

        if (arg[1] == '-') {
            // --name or --name=value
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            const Entry* entry = nullptr;
            for (const Entry& s : kOptions)
                if (name == s.longName) entry = &s;
            if (entry == nullptr) return fail("unknown option '" + arg + "'");
            if (entry->flag != nullptr) {
                if (equals != std::string::npos)
                    return fail("option '--" + name + "' takes no value");
                options->*(entry->flag) = true;
                continue;
            }
            std::string& folder = options->*(entry->folder);
            if (equals != std::string::npos) folder = arg.substr(equals + 1);
            else if (i + 1 < args.size()) folder = args[++i];
            else folder.clear();
            if (folder.empty()) return fail("option '--" + name + "' needs a folder");
            continue;
        }

        // Short options, grouped as in -nv; -C takes the rest or the next argument.
        for (std::size_t at = 1; at < arg.size(); ++at) {
            const Entry* entry = nullptr;
            for (const Entry& s : kOptions)
                if (s.shortName != 0 && arg[at] == s.shortName) entry = &s;
            if (entry == nullptr) return fail(std::string("unknown option '-") + arg[at] + "'");
            if (entry->flag != nullptr) {
                options->*(entry->flag) = true;
                continue;
            }
            std::string& folder = options->*(entry->folder);
            if (at + 1 < arg.size()) folder = arg.substr(at + 1);
            else if (i + 1 < args.size()) folder = args[++i];
            else folder.clear();
            if (folder.empty()) return fail(std::string("option '-") + entry->shortName + "' needs a folder");
            break;
        }
    }
    if (options->outputs && !options->checkLinks) return fail("option '--outputs' needs '--check-links'");
    if (options->uninstall && options->game.empty()) return fail("option '--uninstall' needs '--game'");
    if (options->force && !options->uninstall) return fail("option '--force' needs '--uninstall'");
    return {};
}

std::string usage() {
    std::string text =
           "Usage: headlink [options] [ignored arguments...]\n"
           "Adds a head to appearance.2da, heads.2da and portraits.2da as the scripts head.txt,\n"
           "apphead1.txt, apphead2.txt, apphead3.txt and portraits.txt say, and writes\n"
           "appearance_updated.2da, heads_updated.2da and portraits_updated.2da beside them.\n"
           "\n"
           "A script:  template-row key-column key-value [column value]...\n"
           "  finds the row whose key-column holds key-value, or adds a copy of template-row,\n"
           "  then sets each column to its value (rows and columns count from 0).\n";
    std::string links = "Links: ";
    links += linkSentence(nullptr);
    text += wrapped(links);
    text += "\n"
           "  -C, --directory DIR   work in DIR instead of the current folder\n"
           "      --game DIR        take the three tables from the game folder DIR (from its\n"
           "                        override folder, else from the archives of its key file)\n"
           "                        and install the changed ones into its override folder,\n"
           "                        keeping backups in DIR/headlink-backups\n"
           "      --uninstall       with --game: undo the newest install exactly, links and\n"
           "                        all, or finish an undo that was cut short\n"
           "      --force           with --uninstall: move the files changed since the install\n"
           "                        aside into DIR/headlink-backups/set-aside-..., then undo\n"
           "      --heads PACK      run every head of the pack PACK (each folder in it holding\n"
           "                        the five scripts, in name order) instead of the scripts\n"
           "                        here; with --game, install the files in each head's\n"
           "                        override folder too\n"
           "  -n, --dry-run         do the whole job but write nothing; print the report\n"
           "  -v, --verbose         print the report after the run\n"
           "  -q, --quiet           print no warnings (errors are still printed)\n"
           "      --strict          treat every warning as an error: write nothing, exit 1\n"
           "      --find-games      print the game folders found on this computer, one a line\n"
           "                        (exit 1 when there is none)\n"
           "      --check-links     only list the link cells that name no row (exit 1 if any);\n"
           "      --outputs         with --check-links: check the *_updated.2da tables instead\n"
           "  -h, --help            print this help and exit\n"
           "      --version         print the version and exit\n"
           "      --                end of options; everything after it is ignored\n"
           "\n"
           "Started with no arguments in a pack's folder (folders of heads, no tables), with\n"
           "a person at the console: finds the game, shows the plan and asks before it\n"
           "installs the pack (or undoes it, when it is the newest install there).\n"
           "\n"
           "Exit status: 0 when the outputs were written or installed, or the install undone\n"
           "(with -n: when every step worked; writing is not tried), 1 when anything failed\n"
           "(each failure is printed), 2 for a usage error.\n";
    return text;
}

}  // namespace headlink
