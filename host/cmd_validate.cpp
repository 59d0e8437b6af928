// kv23 validate: runs the plug-in through the checks of host/validate/ and
// prints one line per check and the closing count. Each check runs in its
// own child process with its own time budget, so a plug-in that crashes or
// hangs in one check costs that check a failed line naming it, and every
// other check still runs.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/clap_host.h"
#include "host/cli.h"
#include "host/plugin_calls.h"
#include "host/plugin_instance.h"
#include "host/validate/isolation.h"
#include "host/validate/validator.h"

namespace kv::host {

namespace {

using validate::Context;
using validate::Report;

using validate::Check;
using validate::Counts;
using validate::Tier;

struct Group {
    const char* name;
    std::vector<Check> (*checks)();
    // The one format whose own rules the group checks; none: every format.
    std::optional<PluginFormat> format;
};

const Group kGroups[] = {
    {"load", &validate::loadChecks, std::nullopt},
    {"processing", &validate::processingChecks, std::nullopt},
    {"state", &validate::stateChecks, std::nullopt},
    {"threads", &validate::threadChecks, std::nullopt},
    {"editor", &validate::editorChecks, std::nullopt},
    {"allocation", &validate::allocationChecks, std::nullopt},
    {"lifetime", &validate::lifetimeChecks, std::nullopt},
    {"vst2", &validate::vst2Checks, PluginFormat::Vst2},
    {"clap", &validate::clapChecks, PluginFormat::Clap},
    {"vst3", &validate::vst3Checks, PluginFormat::Vst3},
};

bool groupFits(const Group& group, PluginFormat format) {
    return !group.format || *group.format == format;
}

// The tiers a strictness runs when --tier does not say: every host's
// calls always, demanding hosts' from 6, hostile input from 9.
Tier tierFor(int strictness) {
    if (strictness >= 9) return Tier::Hostile;
    if (strictness >= 6) return Tier::Demanding;
    return Tier::EveryHost;
}

Tier parseTier(const std::string& name) {
    if (name == "every-host") return Tier::EveryHost;
    if (name == "demanding") return Tier::Demanding;
    if (name == "hostile") return Tier::Hostile;
    throw UsageError("--tier takes every-host, demanding or hostile, not \"" + name + "\"");
}

// A seed of its own for every check, from the run's seed and the check's
// name: a check run alone repeats exactly what it did in the full run.
uint64_t seedFor(uint64_t seed, const std::string& name) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : name)
        h = (h ^ c) * 0x100000001b3ull;
    return seed ^ h;
}

std::set<std::string> parseGroups(const std::string& list) {
    std::set<std::string> groups;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const std::string name =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool known = false;
        for (const Group& g : kGroups)
            known = known || name == g.name;
        if (!known) throw UsageError("unknown group \"" + name + "\"");
        groups.insert(name);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return groups;
}

// Runs `body` in a child process with a time budget, recording the call
// into the plug-in it is in; a crash or a hang becomes a sentence naming
// that call. The body's own failure is its sentence.
validate::ChildOutcome isolated(const std::function<std::string()>& body, int seconds) {
    constexpr size_t kCallName = 256;
    auto* call = static_cast<char*>(
        mmap(nullptr, kCallName, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (call == MAP_FAILED) throw RunError("cannot map memory shared with the loading child");
    call[0] = '\0';
    validate::ChildOutcome outcome = validate::runInChild(
        [&]() -> std::string {
            recordCallsIn(call, kCallName);
            return body();
        },
        seconds);
    const std::string where = call[0] ? std::string(" in ") + call : std::string();
    munmap(call, kCallName);
    if (outcome.ok) return outcome;
    if (outcome.message.rfind("timed out", 0) == 0)
        outcome.message = "the plug-in did not finish loading within " + std::to_string(seconds) +
                          " s: it hangs" + where;
    else if (outcome.message.rfind("killed by signal", 0) == 0)
        outcome.message =
            "the plug-in crashed while kv23 loaded it (" + outcome.message + ")" + where;
    return outcome;
}

// What the file holds, learnt in a child: its format and the ids of the
// plug-ins to check (CLAP: every one, or --id's; VST 2: one, unnamed).
// Throws RunError when the file cannot even say that.
std::pair<PluginFormat, std::vector<std::string>> holdings(const std::string& path,
                                                           const std::string& onlyId, int seconds) {
    const validate::ChildOutcome outcome = isolated(
        [&]() -> std::string {
            std::string error;
            const auto format = pluginFormatOf(path, error);
            if (format != PluginFormat::Clap) {
                if (!onlyId.empty())
                    return "--id picks one plug-in of a CLAP file; " + path + " is no CLAP file";
                return validate::passedWith(format == PluginFormat::Vst3 ? "vst3" : "vst2");
            }
            std::vector<std::string> ids{onlyId};
            if (onlyId.empty()) ids = ClapHost::pluginIds(path, error);
            if (ids.empty()) return error;
            std::string answer = "clap";
            for (const std::string& id : ids)
                answer += "\n" + id;
            return validate::passedWith(answer);
        },
        seconds);
    if (!outcome.ok) throw RunError(outcome.message);
    std::istringstream lines(outcome.message);
    std::string format;
    std::getline(lines, format);
    std::vector<std::string> ids;
    for (std::string id; std::getline(lines, id);)
        ids.push_back(id);
    if (ids.empty()) ids.emplace_back();
    const PluginFormat kind = format == "clap"   ? PluginFormat::Clap
                              : format == "vst3" ? PluginFormat::Vst3
                                                 : PluginFormat::Vst2;
    return {kind, ids};
}

// One plug-in loaded in a child with its identity, channels and parameters
// read, as a scanner does: empty when that worked, else what went wrong.
std::string loadsWhole(const std::string& path, const std::string& id, int seconds) {
    const validate::ChildOutcome outcome = isolated(
        [&]() -> std::string {
            std::string error;
            LoadOptions options;
            options.pluginId = id;
            auto instance = openPluginInstance(path, error, options);
            if (!instance) return error;
            (void)instance->identity();
            (void)instance->capabilities();
            return {};
        },
        seconds);
    return outcome.ok ? std::string() : outcome.message;
}

std::set<std::string> parseChecks(const std::string& list) {
    std::set<std::string> names;
    std::istringstream in(list);
    for (std::string name; std::getline(in, name, ',');) {
        bool known = false;
        for (const Group& g : kGroups) {
            for (const Check& c : g.checks())
                known = known || c.name == name;
        }
        if (!known) throw UsageError("unknown check \"" + name + "\" (kv23 validate --list)");
        names.insert(name);
    }
    return names;
}

int runValidate(const std::vector<std::string>& args) {
    PluginChoice choice;
    validate::Options options;
    bool tierGiven = false;
    long checkTime = -1;
    std::set<std::string> checks;  // empty: every check of the groups
    ArgReader reader(args);
    while (!reader.done()) {
        const std::string& arg = reader.next();
        if (takePluginOption(reader, arg, choice)) continue;
        if (arg == "--strictness") {
            const long s = parseInteger(reader.valueOf(arg), arg);
            if (s < 1 || s > 10) throw UsageError("--strictness takes 1 to 10");
            options.strictness = static_cast<int>(s);
        } else if (arg == "--seed") {
            const long seed = parseInteger(reader.valueOf(arg), arg);
            if (seed < 0) throw UsageError("--seed takes a number of 0 or more");
            options.seed = static_cast<uint64_t>(seed);
        } else if (arg == "--group") {
            options.groups = parseGroups(reader.valueOf(arg));
        } else if (arg == "--check") {
            checks = parseChecks(reader.valueOf(arg));
        } else if (arg == "--list") {
            for (const Group& group : kGroups) {
                for (const Check& check : group.checks())
                    std::printf("%-40s %s\n", check.name.c_str(), validate::tierName(check.tier));
            }
            return 0;
        } else if (arg == "--tier") {
            options.tier = parseTier(reader.valueOf(arg));
            tierGiven = true;
        } else if (arg == "--check-time") {
            checkTime = parseInteger(reader.valueOf(arg), arg);
            if (checkTime < 1 || checkTime > 3600)
                throw UsageError("--check-time takes 1 to 3600 seconds");
        } else {
            throw UsageError("unknown argument \"" + arg + "\"");
        }
    }
    if (!tierGiven) options.tier = tierFor(options.strictness);
    // A release build needs seconds per check; a sanitizer build or a slow
    // plug-in many times more. A check that takes longer counts as hung.
    if (checkTime < 0) checkTime = 60 + 24L * options.strictness;
    options.checkSeconds = static_cast<double>(checkTime);

    // Fail early, with the loader's sentence, when the file is no plug-in or
    // the plug-in does not survive being loaded.
    options.pluginPath = choice.path.empty() ? defaultPluginPath() : choice.path;
    const int loadBudget = static_cast<int>(std::max(5L, checkTime / 4));
    const auto [format, ids] = holdings(options.pluginPath, choice.id, loadBudget);
    options.format = format;

    std::string tiers = validate::tierName(Tier::EveryHost);
    if (options.tier >= Tier::Demanding) tiers += ", " + std::string(tierName(Tier::Demanding));
    if (options.tier >= Tier::Hostile) tiers += ", " + std::string(tierName(Tier::Hostile));
    std::fprintf(stdout, "kv23 validate: %s, strictness %d, seed %" PRIu64 ", tiers: %s\n",
                 options.pluginPath.c_str(), options.strictness, options.seed, tiers.c_str());
    // Plug-ins print debugging text on standard output; it goes to standard
    // error from here on, so that our lines stay whole and parseable.
    std::fflush(stdout);
    FILE* out = fdopen(dup(STDOUT_FILENO), "w");
    if (out == nullptr) throw RunError("cannot duplicate standard output");
    dup2(STDERR_FILENO, STDOUT_FILENO);
    Report report(out);
    auto* shared = static_cast<Counts*>(
        mmap(nullptr, sizeof(Counts), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (shared == MAP_FAILED) throw RunError("cannot map memory shared with the checks");
    for (size_t n = 0; n < ids.size(); ++n) {
        options.pluginId = ids[n];
        if (ids.size() > 1)
            std::fprintf(out, "== %s (%zu of %zu)\n", ids[n].c_str(), n + 1, ids.size());
        // A plug-in that does not survive loading is checked no further.
        if (const std::string problem = loadsWhole(options.pluginPath, ids[n], loadBudget);
            !problem.empty()) {
            report.fail("load.open", problem);
            continue;
        }
        for (const Group& group : kGroups) {
            if (!options.groups.empty() && options.groups.count(group.name) == 0) continue;
            if (!groupFits(group, options.format)) continue;
            for (const Check& check : group.checks()) {
                if (check.tier > options.tier) continue;
                if (!checks.empty() && checks.count(check.name) == 0) continue;
                *shared = Counts{};
                const int budget =
                    static_cast<int>(check.quick ? std::max(5L, checkTime / 4) : checkTime);
                validate::Options checkOptions = options;
                checkOptions.checkSeconds = budget;
                checkOptions.seed = seedFor(options.seed, check.name);
                const validate::ChildOutcome outcome = validate::runInChild(
                    [&]() -> std::string {
                        Report own(out, shared);
                        own.setCheck(&check);
                        Context ctx(checkOptions, own);
                        try {
                            check.run(ctx);
                        } catch (const std::exception& e) {
                            own.fail(check.name, std::string("error: ") + e.what());
                        }
                        return {};
                    },
                    budget);
                report.add(shared->passed, shared->failed, shared->skipped);
                if (!outcome.ok) {
                    report.setCheck(&check);
                    const bool hung = outcome.message.rfind("timed out", 0) == 0;
                    report.fail(check.name, hung ? "hung: no result within " +
                                                       std::to_string(budget) + " s, stopped"
                                                 : "crashed: " + outcome.message);
                    report.setCheck(nullptr);
                }
            }
        }
    }
    munmap(shared, sizeof(Counts));
    std::fprintf(out, "%s\n", report.summary().c_str());
    std::fclose(out);
    return report.failed() == 0 ? 0 : 1;
}

}  // namespace

extern const Command kValidateCommand = {
    "validate",
    "drive the plug-in through host-like checks and report each",
    "usage: kv23 validate [--plugin PATH] [--id ID] [--strictness 1..10] [--seed N]\n"
    "                     [--group LIST] [--check LIST] [--tier every-host|demanding|hostile]\n"
    "                     [--check-time SECONDS] [--list]\n"
    "\n"
    "Loads the plug-in (VST 2, CLAP or VST3: kv23 tells by what the file exports,\n"
    "or a .vst3 bundle folder) as\n"
    "a host's scanner does, in a process of its own with a time budget: a plug-in\n"
    "that crashes or hangs while it loads, or whose records hold null functions or\n"
    "absurd counts, is named with what it did and checked no further (exit 1).\n"
    "A CLAP file with several plug-ins has each checked in turn, under a line\n"
    "\"== ID (N of M)\"; --id checks one. Then it loads the plug-in\n"
    "demanding hosts and validators do and runs groups of checks. These run for\n"
    "every format, written once against kv23's plug-in instance interface: load\n"
    "(instances, identity, separate state), processing (rates, block sizes,\n"
    "in-place and mixed-precision calls, extreme input, silence, determinism),\n"
    "state (values kept, out of range, NaN, state round trips and damaged\n"
    "states), threads (parameters and the editor while audio runs), editor\n"
    "(open/close, the host's scale, parent destroyed first, leaks; needs\n"
    "DISPLAY) and lifetime (forks, editors closed at exit or in a forked child,\n"
    "a guarded X error handler and two copies of the library, the panel's\n"
    "connection killed, memory per reload; hostile tier), allocation (each\n"
    "allocation of making an instance and of opening the editor made to fail\n"
    "in turn: VSTPluginMain and effEditOpen, create_plugin, init, gui.create\n"
    "and set_parent).\n"
    "\n"
    "Three groups check one format's own rules. vst2: the AEffect record, string\n"
    "limits, null pointers and stray values of the dispatcher, parameter\n"
    "indices, chunks of every size, preset chunks, keys, effClose with the\n"
    "editor open, unloading under an open editor, the host callbacks'\n"
    "re-entrancy matrix. clap: the descriptor,\n"
    "activation orders with reset, parameter texts both ways, odd events and\n"
    "calls from the wrong thread, and its panel (needs DISPLAY and the gui\n"
    "extension for X11): create and destroy, the hosts' call orders, the size\n"
    "at the host's factor, refusals, a real drag (XTest) heard as gesture and\n"
    "value events through request_flush and flush, the same beside an audio\n"
    "thread, automation that must move the controls, gui calls from the wrong\n"
    "thread. vst3: the module's entry points, the factory's records, references\n"
    "across interfaces, setup_processing / set_active / set_processing orders,\n"
    "latency restarts, bus arrangements, parameter texts, state through windowed,\n"
    "unseekable and byte-wise streams, damaged states, initialize twice, calls\n"
    "from the wrong thread, and its view (needs DISPLAY): attach/remove orders,\n"
    "the content scale, a host without a run loop, a real drag beside an audio\n"
    "thread heard as begin/perform/end while the button is held.\n"
    "\n"
    "Checks come in three tiers: what every host does (always run), what\n"
    "demanding hosts do (from strictness 6) and hostile input such as garbage\n"
    "chunks, NaN parameters and absurd sample rates (from strictness 9). Each\n"
    "check runs in a process of its own: a crash or a hang fails that check.\n"
    "\n"
    "Prints one line per check (PASS, FAIL or SKIP, its name and a figure; a FAIL\n"
    "adds its tier and what a host would see) and closes with \"N passed, N\n"
    "failed\" (and \", N skipped\").\n"
    "\n"
    "  --strictness N  1 is a quick smoke run, 10 runs every count in full (default 5)\n"
    "  --seed N        seed of every random choice (default 1263940147); printed\n"
    "  --group LIST    only these groups, comma-separated (load,processing,state,\n"
    "                  threads,editor,allocation,lifetime,vst2,clap,vst3); a group\n"
    "                  for another format than the plug-in's runs nothing\n"
    "  --check LIST    only these checks, comma-separated (names as --list prints)\n"
    "  --id ID         the plug-in of a CLAP file with several to check (default: every one)\n"
    "  --tier NAME     the highest tier to run, whatever the strictness\n"
    "  --list          print every check's name and tier, and run nothing\n"
    "  --check-time S  seconds one check may take before it counts as hung\n"
    "                  (default 60 + 24 x strictness)\n"
    "\n"
    "Exit status: 0 every check passed, 1 a check failed, 2 the command line is wrong.\n",
    &runValidate,
};

}  // namespace kv::host
