// kv23: a command-line host for the KV23-T ZuDiz plug-in. It loads the
// plug-in file as a DAW would (dlopen, VSTPluginMain, the AEffect record) and
// offers one subcommand per job. A new subcommand lives in its own file,
// defines a Command and is listed in the table below.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "host/cli.h"
#include "host/plugin_calls.h"

namespace kv::host {

extern const Command kInfoCommand;
extern const Command kProcessCommand;
extern const Command kGuiCommand;
extern const Command kSnapshotCommand;
extern const Command kValidateCommand;

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        kInfoCommand, kProcessCommand, kGuiCommand, kSnapshotCommand, kValidateCommand,
    };
    return table;
}

}  // namespace kv::host

namespace {

using kv::host::Command;

void printUsage(FILE* out) {
    std::fprintf(out,
                 "usage: kv23 COMMAND [options]\n"
                 "       kv23 COMMAND --help\n"
                 "       kv23 --version\n"
                 "\n"
                 "A host for the KV23-T ZuDiz plug-in and any other VST 2.4 or CLAP\n"
                 "plug-in: kv23 tells the format by what the file exports (VSTPluginMain\n"
                 "or main, clap_entry) and drives every format through the same commands.\n"
                 "\n"
                 "commands:\n");
    for (const Command& c : kv::host::commands()) {
        std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
    }
    std::fprintf(out,
                 "\n"
                 "The plug-in file: --plugin PATH, else $KV23_PLUGIN, else KV23-T-ZuDiz.so in\n"
                 "the folder above the kv23 binary, beside it or in ../lib/vst from it (the\n"
                 "installed package: /usr/lib/vst), else ~/.vst/KV23-T-ZuDiz.so; the CLAP\n"
                 "build is KV23-T-ZuDiz.clap (--plugin KV23-T-ZuDiz.clap).\n"
                 "Parameters are set in their own units: a VST 2 parameter by its index, 0\n"
                 "to 1; a CLAP parameter by its id or name, in its plain value (dB, 0 or 1).\n"
                 "--trace prints every call the plug-in makes into the host on standard error.\n"
                 "\n"
                 "Exit status: 0 done, 1 the work failed, 2 the command line is wrong.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("kv23 (KV23-T ZuDiz) %s\n", KV_VERSION);
        return 0;
    }
    const Command* command = nullptr;
    for (const Command& c : kv::host::commands()) {
        if (name == c.name) command = &c;
    }
    if (command == nullptr) {
        std::fprintf(stderr, "kv23: unknown command \"%s\" (see kv23 --help)\n", name.c_str());
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(command->help, stdout);
            return 0;
        }
    }
    // A plug-in call that does not come back is said, never a silent hang.
    // validate's checks run in children with a time budget that names a hang
    // already, and its process must stay single-threaded until it forks them.
    if (std::string(command->name) != "validate") kv::host::warnWhenStuck(command->name, 5.0);
    try {
        return command->run(args);
    } catch (const kv::host::UsageError& e) {
        std::fprintf(stderr, "kv23 %s: %s (see kv23 %s --help)\n", command->name, e.what(),
                     command->name);
        return 2;
    } catch (const kv::host::RunError& e) {
        std::fprintf(stderr, "kv23 %s: %s\n", command->name, e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kv23 %s: %s\n", command->name, e.what());
        return 1;
    }
}
