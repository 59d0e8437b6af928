// kv23 validate: drives a built plug-in through its ABI the way demanding
// hosts and plug-in validators do, and prints one line per check.
//
// A check is one named property ("processing.finite-output") with a
// pass/fail outcome and a short figure (a count, a level, the first
// offending value). Each check belongs to a tier: what every host does to a
// plug-in, what demanding hosts do, and hostile input no sane host sends;
// its failure says what a host or a user would suffer. Groups of checks live
// in their own files (check_*.cpp), each listing its checks in a function
// that cmd_validate.cpp calls in a fixed order; every check runs in a
// process of its own with its own time budget, so a crash or a hang costs
// that check alone and names it. Counts and durations scale with the
// strictness (1 = a quick smoke run, 10 = full), and every random choice
// comes from a generator seeded from --seed and the check's name, so a
// failing check can be repeated exactly, alone or in the full run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/plugin_instance.h"
#include "host/vst2_host.h"

namespace kv::validate {

// Who does this to a plug-in. Higher tiers run at higher strictness.
enum class Tier { EveryHost = 1, Demanding = 2, Hostile = 3 };

// "every host", "demanding hosts", "hostile input".
const char* tierName(Tier tier);

struct Options {
    std::string pluginPath;
    std::string pluginId;  // which plug-in of a file with several (CLAP); empty: the first
    host::PluginFormat format = host::PluginFormat::Vst2;  // what the file is
    int strictness = 5;
    uint64_t seed = 0x4B563233;    // 'KV23'
    std::set<std::string> groups;  // empty: every group
    Tier tier = Tier::EveryHost;   // the highest tier that runs
    double checkSeconds = 180.0;   // a check's time budget
};

class Context;

struct Check {
    std::string name;
    Tier tier;
    // What a host or a user suffers when the check fails; printed with it.
    std::string harm;
    std::function<void(Context&)> run;
    // A handful of calls that take a moment: a quarter of the time budget
    // (at least 5 s) tells a hang sooner.
    bool quick = false;
};

// Line counts; placed in memory shared with the child that runs a check,
// so lines printed before a crash still count.
struct Counts {
    int passed = 0;
    int failed = 0;
    int skipped = 0;
};

// The check lines and the closing count. Lines look like
//   PASS  processing.finite-output  16 settings x 9 signals, peak 3.2e+03
//   FAIL  state.nan-refused  parameter 2 reads nan after setParameter(nan)
//   SKIP  editor.open-close  no editor (flag 0x1 not set)
class Report {
  public:
    explicit Report(FILE* out, Counts* counts = nullptr)
        : out_(out), counts_(counts != nullptr ? counts : &own_) {}

    // The check whose lines follow: a failure then names its tier and harm.
    void setCheck(const Check* check) { check_ = check; }

    void pass(const std::string& name, const std::string& figure);
    void fail(const std::string& name, const std::string& figure);
    void skip(const std::string& name, const std::string& why);
    // pass() when ok, else fail(); the same figure either way.
    bool check(bool ok, const std::string& name, const std::string& figure);

    // Counts of lines printed elsewhere (by a child process).
    void add(int passed, int failed, int skipped);

    int passed() const { return counts_->passed; }
    int failed() const { return counts_->failed; }
    int skipped() const { return counts_->skipped; }
    // "N passed, N failed" and ", N skipped" when any was skipped.
    std::string summary() const;

  private:
    void line(const char* tag, const std::string& name, const std::string& figure);

    FILE* out_;
    Counts own_;
    Counts* counts_;
    const Check* check_ = nullptr;
};

// What every group gets: the options, the report, the random generator, and
// a way to create instances of the plug-in under test.
class Context {
  public:
    Context(Options options, Report& report);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    const Options& options() const { return options_; }
    Report& report() { return report_; }
    std::mt19937_64& rng() { return rng_; }

    // A uniform value in [0, 1) from the run's generator.
    double uniform();
    // `full` at strictness 10, proportionally fewer below, never below `least`.
    int scaled(int full, int least = 1) const;
    // Seconds a loop of slow steps (opening an editor, say) may take before
    // it stops early: the counts above are meant for a release build, and a
    // sanitizer build can be a hundred times slower.
    // A third of the check's own time budget, at most 20 s.
    double slowLoopBudget() const { return std::min(20.0, options_.checkSeconds / 3.0); }

    // A new instance of the plug-in under test, in its format (a fresh
    // VSTPluginMain call and effOpen, or a fresh create_plugin and init).
    // Returns null (and puts the loader's sentence into `error`) when the
    // plug-in gives none.
    std::unique_ptr<host::PluginInstance> load(std::string& error);
    // The same, started the way hosts start an instance. Throws
    // std::runtime_error when no instance comes back or it refuses to
    // start: a check cannot go on without one.
    std::unique_ptr<host::PluginInstance> started(double sampleRate = 44100.0,
                                                  uint32_t blockSize = 1024);

    // For the vst2 group: the VST 2 host alone, before effOpen.
    std::unique_ptr<host::Vst2Host> loadVst2(std::string& error,
                                             host::HostOptions hostOptions = host::HostOptions());
    // Opened and resumed (effOpen, rate, block size, effMainsChanged).
    std::unique_ptr<host::Vst2Host> startedVst2(float sampleRate = 44100.0f,
                                                int32_t blockSize = 1024);

    // Keeps the library mapped between instances (as a host that scanned it
    // does); released by the destructor.
    void pinLibrary();

  private:
    Options options_;
    Report& report_;
    std::mt19937_64 rng_;
    void* pinned_ = nullptr;
};

// Text helpers for figures.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The groups' checks, in the order kv23 validate runs them. Every group
// runs for every format but the two named after one, whose checks are about
// that format's own rules.
std::vector<Check> loadChecks();
std::vector<Check> processingChecks();
std::vector<Check> stateChecks();
// VST 2's own rules: the AEffect record, opcodes, chunks (check_vst2.cpp),
// and its editor's (check_vst2_editor.cpp), which vst2Checks() ends with.
std::vector<Check> vst2Checks();
std::vector<Check> vst2EditorChecks();
std::vector<Check> threadChecks();
// The editor checks every format shares; they end with the re-entrancy
// matrix of the host's calls (check_reentrancy.cpp).
std::vector<Check> editorChecks();
std::vector<Check> reentrancyChecks();
std::vector<Check> allocationChecks();
std::vector<Check> lifetimeChecks();
// CLAP's own rules: the factory, activation orders, texts, odd events.
std::vector<Check> clapChecks();
// Its panel (check_clap_gui.cpp), which clapChecks() ends with.
std::vector<Check> clapGuiChecks();
// VST3's own rules: the module, factory, references, call orders, buses,
// texts, streams (check_vst3.cpp), and its view's (check_vst3_view.cpp),
// which vst3Checks() ends with.
std::vector<Check> vst3Checks();
std::vector<Check> vst3ViewChecks();

}  // namespace kv::validate
