// kv23 validate: drives a built plug-in through its ABI the way demanding
// hosts and plug-in validators do, and prints one line per check.
//
// A check is one named property ("state.nan-refused") with a pass/fail
// outcome and a short figure (a count, a level, the first offending value).
// Groups of checks live in their own files (check_*.cpp) and register
// nothing: cmd_validate.cpp calls them in a fixed order. Counts and
// durations scale with the strictness (1 = a quick smoke run, 10 = full),
// and every random choice comes from one generator seeded from --seed so a
// failing run can be repeated exactly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "host/plugin_host.h"

namespace kv::validate {

struct Options {
    std::string pluginPath;
    int strictness = 5;
    uint64_t seed = 0x4B563233;    // 'KV23'
    std::set<std::string> groups;  // empty: every group
};

// The check lines and the closing count. Lines look like
//   PASS  processing.finite-output  16 settings x 9 signals, peak 3.2e+03
//   FAIL  state.nan-refused  parameter 2 reads nan after setParameter(nan)
//   SKIP  editor.open-close  no editor (flag 0x1 not set)
class Report {
  public:
    explicit Report(FILE* out) : out_(out) {}

    void pass(const std::string& name, const std::string& figure);
    void fail(const std::string& name, const std::string& figure);
    void skip(const std::string& name, const std::string& why);
    // pass() when ok, else fail(); the same figure either way.
    bool check(bool ok, const std::string& name, const std::string& figure);

    // Counts of lines printed elsewhere (by a child process).
    void add(int passed, int failed, int skipped);

    int passed() const { return passed_; }
    int failed() const { return failed_; }
    int skipped() const { return skipped_; }
    // "N passed, N failed" and ", N skipped" when any was skipped.
    std::string summary() const;

  private:
    void line(const char* tag, const std::string& name, const std::string& figure);

    FILE* out_;
    int passed_ = 0;
    int failed_ = 0;
    int skipped_ = 0;
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
    static constexpr double kSlowLoopBudget = 20.0;

    // A new instance through a fresh VSTPluginMain call. Returns null (and
    // puts the loader's sentence into `error`) when the plug-in gives none.
    std::unique_ptr<host::PluginHost> load(std::string& error,
                                           host::HostOptions hostOptions = host::HostOptions());
    // The same, started the way hosts start an instance (open, rate, block
    // size, resume). Throws std::runtime_error when no instance comes back:
    // a group cannot go on without one.
    std::unique_ptr<host::PluginHost> started(float sampleRate = 44100.0f,
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

// The groups, in the order kv23 validate runs them.
void checkLoad(Context& ctx);
void checkProcessing(Context& ctx);
void checkState(Context& ctx);
void checkOpcodes(Context& ctx);
void checkThreads(Context& ctx);
void checkEditor(Context& ctx);
void checkAllocation(Context& ctx);

}  // namespace kv::validate
