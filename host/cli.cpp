#include "host/cli.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kv::host {

double parseNumber(const std::string& text, const std::string& what) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE ||
        !std::isfinite(value)) {
        throw UsageError(what + " needs a plain number, not \"" + text + "\"");
    }
    return value;
}

long parseInteger(const std::string& text, const std::string& what) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE) {
        throw UsageError(what + " needs a whole number, not \"" + text + "\"");
    }
    return value;
}

const std::string& ArgReader::valueOf(const std::string& option) {
    if (done()) throw UsageError(option + " needs a value");
    return next();
}

bool takePluginOption(ArgReader& reader, const std::string& arg, PluginChoice& choice) {
    if (arg == "--plugin") {
        choice.path = reader.valueOf(arg);
        return true;
    }
    if (arg.rfind("--plugin=", 0) == 0) {
        choice.path = arg.substr(9);
        return true;
    }
    if (arg == "--trace") {
        choice.trace = true;
        return true;
    }
    if (arg == "--id") {
        choice.id = reader.valueOf(arg);
        return true;
    }
    return false;
}

LoadOptions loadOptions(const PluginChoice& choice) {
    LoadOptions options;
    if (choice.trace) options.trace = stderr;
    options.pluginId = choice.id;
    return options;
}

std::unique_ptr<Vst2Host> openPlugin(const PluginChoice& choice) {
    Vst2Host::Options options;
    if (choice.trace) options.trace = stderr;
    std::string error;
    const std::string path = choice.path.empty() ? defaultPluginPath() : choice.path;
    auto host = Vst2Host::load(path, error, options);
    if (!host) throw RunError(error);
    return host;
}

}  // namespace kv::host
