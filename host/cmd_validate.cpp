// kv23 validate: runs the plug-in through the checks of host/validate/ and
// prints one line per check and the closing count. Each group runs in its
// own child process, so a plug-in that crashes in one group costs that
// group a failed line and the other groups still run.
#include <sys/mman.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "host/cli.h"
#include "host/validate/isolation.h"
#include "host/validate/validator.h"

namespace kv::host {

namespace {

using validate::Context;
using validate::Report;

struct Group {
    const char* name;
    void (*run)(Context&);
};

constexpr Group kGroups[] = {
    {"load", &validate::checkLoad},       {"processing", &validate::checkProcessing},
    {"state", &validate::checkState},     {"opcodes", &validate::checkOpcodes},
    {"threads", &validate::checkThreads}, {"editor", &validate::checkEditor},
    {"allocation", &validate::checkAllocation},
};

struct Counts {
    int passed;
    int failed;
    int skipped;
};

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

int runValidate(const std::vector<std::string>& args) {
    PluginChoice choice;
    validate::Options options;
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
        } else {
            throw UsageError("unknown argument \"" + arg + "\"");
        }
    }
    // Fail early, with the loader's sentence, when the file is no plug-in.
    openPlugin(choice).reset();
    options.pluginPath = choice.path.empty() ? defaultPluginPath() : choice.path;

    std::printf("kv23 validate: %s, strictness %d, seed %" PRIu64 "\n", options.pluginPath.c_str(),
                options.strictness, options.seed);
    Report report(stdout);
    auto* shared = static_cast<Counts*>(
        mmap(nullptr, sizeof(Counts), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (shared == MAP_FAILED) throw RunError("cannot map memory shared with the checks");
    uint64_t groupIndex = 0;
    for (const Group& group : kGroups) {
        ++groupIndex;
        if (!options.groups.empty() && options.groups.count(group.name) == 0) continue;
        *shared = Counts{0, 0, 0};
        validate::Options groupOptions = options;
        // Each group has its own stream of random choices, so a group run
        // alone with --group repeats exactly what it did in the full run.
        groupOptions.seed = options.seed + groupIndex * 0x9E3779B97F4A7C15ull;
        const validate::ChildOutcome outcome = validate::runInChild(
            [&]() -> std::string {
                Report own(stdout);
                Context ctx(groupOptions, own);
                try {
                    group.run(ctx);
                } catch (const std::exception& e) {
                    own.fail(std::string(group.name) + ".error", e.what());
                }
                *shared = Counts{own.passed(), own.failed(), own.skipped()};
                return {};
            },
            900);
        report.add(shared->passed, shared->failed, shared->skipped);
        if (!outcome.ok) {
            report.fail(std::string(group.name) + ".survived",
                        "the group's process ended: " + outcome.message);
        }
    }
    munmap(shared, sizeof(Counts));
    std::printf("%s\n", report.summary().c_str());
    return report.failed() == 0 ? 0 : 1;
}

}  // namespace

extern const Command kValidateCommand = {
    "validate",
    "drive the plug-in through host-like checks and report each",
    "usage: kv23 validate [--plugin PATH] [--strictness 1..10] [--seed N] [--group LIST]\n"
    "\n"
    "Loads the plug-in as demanding hosts and validators do and runs groups of\n"
    "checks: load (instances, identity, separate state), processing (rates,\n"
    "block sizes, in-place and mixed-precision calls, extreme input, silence,\n"
    "determinism), state (parameter ranges, NaN, chunks of every size),\n"
    "opcodes (string limits, null pointers, stray values), threads (parameters\n"
    "and the editor while audio runs) and editor (open/close, parent destroyed\n"
    "first, keys, leaks; needs DISPLAY) and allocation (each allocation of\n"
    "VSTPluginMain and effEditOpen made to fail in turn).\n"
    "\n"
    "Prints one line per check (PASS, FAIL or SKIP, its name and a figure) and\n"
    "closes with \"N passed, N failed\" (and \", N skipped\").\n"
    "\n"
    "  --strictness N  1 is a quick smoke run, 10 runs every count in full (default 5)\n"
    "  --seed N        seed of every random choice (default 1263940147); printed\n"
    "  --group LIST    only these groups, comma-separated (load,processing,state,\n"
    "                  opcodes,threads,editor,allocation)\n"
    "\n"
    "Exit status: 0 every check passed, 1 a check failed, 2 the command line is wrong.\n",
    &runValidate,
};

}  // namespace kv::host
