// Small pieces shared by the kv23 commands: the command table entry, the two
// kinds of failure a command reports, and strict number parsing (a typo such
// as "--gain 3dB" must be an error, not 3).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/plugin_instance.h"
#include "host/vst2_host.h"

namespace kv::host {

// The user asked for something impossible: kv23 prints one line and exits 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The request was fine but could not be carried out: one line, exit 1.
struct RunError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Command {
    const char* name;
    const char* summary;  // one line for `kv23 --help`
    const char* help;     // the full text for `kv23 COMMAND --help`
    int (*run)(const std::vector<std::string>& args);
};

// Every command, in the order `kv23 --help` lists them. Each lives in its own
// file and adds itself here (see main.cpp).
const std::vector<Command>& commands();

// Whole-string numbers only; `what` names the option in the error.
double parseNumber(const std::string& text, const std::string& what);
long parseInteger(const std::string& text, const std::string& what);

// Walks the arguments of one command: options with and without values and
// the positional words in between.
class ArgReader {
  public:
    explicit ArgReader(const std::vector<std::string>& args) : args_(args) {}
    bool done() const { return pos_ >= args_.size(); }
    const std::string& next() { return args_[pos_++]; }
    // The value that follows an option; a UsageError when it is missing.
    const std::string& valueOf(const std::string& option);

  private:
    const std::vector<std::string>& args_;
    size_t pos_ = 0;
};

// The options every command that loads the plug-in understands:
// --plugin PATH, --id ID (which plug-in of a CLAP file with several) and
// --trace (print each call the plug-in makes into the host).
struct PluginChoice {
    std::string path;
    std::string id;
    bool trace = false;
};

// Consumes `arg` (and its value) when it is one of the options above.
bool takePluginOption(ArgReader& reader, const std::string& arg, PluginChoice& choice);
// What openPluginInstance needs of them.
LoadOptions loadOptions(const PluginChoice& choice);

// Loads the chosen (or default) plug-in; throws RunError with the reason.
std::unique_ptr<Vst2Host> openPlugin(const PluginChoice& choice);

}  // namespace kv::host
