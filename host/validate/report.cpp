#include <dlfcn.h>

#include <cstdarg>
#include <stdexcept>

#include "host/validate/validator.h"
#include "host/vst3_host.h"

namespace kv::validate {

std::string format(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

void Report::line(const char* tag, const std::string& name, const std::string& figure) {
    std::fprintf(out_, "%-5s %-34s %s\n", tag, name.c_str(), figure.c_str());
    std::fflush(out_);
}

const char* tierName(Tier tier) {
    switch (tier) {
        case Tier::EveryHost:
            return "every host";
        case Tier::Demanding:
            return "demanding hosts";
        case Tier::Hostile:
            return "hostile input";
    }
    return "?";
}

void Report::pass(const std::string& name, const std::string& figure) {
    ++counts_->passed;
    line("PASS", name, figure);
}

void Report::fail(const std::string& name, const std::string& figure) {
    ++counts_->failed;
    if (check_ == nullptr) {
        line("FAIL", name, figure);
        return;
    }
    line("FAIL", name,
         figure + " [" + tierName(check_->tier) + "; a host would see: " + check_->harm + "]");
}

void Report::skip(const std::string& name, const std::string& why) {
    ++counts_->skipped;
    line("SKIP", name, why);
}

bool Report::check(bool ok, const std::string& name, const std::string& figure) {
    if (ok) {
        pass(name, figure);
    } else {
        fail(name, figure);
    }
    return ok;
}

void Report::add(int passed, int failed, int skipped) {
    counts_->passed += passed;
    counts_->failed += failed;
    counts_->skipped += skipped;
}

std::string Report::summary() const {
    std::string s = std::to_string(passed()) + " passed, " + std::to_string(failed()) + " failed";
    if (skipped() > 0) s += ", " + std::to_string(skipped()) + " skipped";
    return s;
}

Context::Context(Options options, Report& report)
    : options_(std::move(options)), report_(report), rng_(options_.seed) {}

Context::~Context() {
    if (pinned_ != nullptr) dlclose(pinned_);
}

double Context::uniform() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
}

int Context::scaled(int full, int least) const {
    const long n = static_cast<long>(full) * options_.strictness / 10;
    return n < least ? least : static_cast<int>(n);
}

std::unique_ptr<host::PluginInstance> Context::load(std::string& error) {
    host::LoadOptions options;
    options.pluginId = options_.pluginId;
    return host::openPluginInstance(options_.pluginPath, error, options);
}

std::unique_ptr<host::PluginInstance> Context::started(double sampleRate, uint32_t blockSize) {
    std::string error;
    auto instance = load(error);
    if (!instance) throw std::runtime_error(error);
    if (!instance->start(sampleRate, blockSize))
        throw std::runtime_error(
            format("the plug-in refused to start at %g Hz in blocks of %u", sampleRate, blockSize));
    return instance;
}

std::unique_ptr<host::Vst2Host> Context::loadVst2(std::string& error,
                                                  host::HostOptions hostOptions) {
    return host::Vst2Host::load(options_.pluginPath, error, std::move(hostOptions));
}

std::unique_ptr<host::Vst2Host> Context::startedVst2(float sampleRate, int32_t blockSize) {
    std::string error;
    auto host = loadVst2(error);
    if (!host) throw std::runtime_error(error);
    host->start(sampleRate, blockSize);
    return host;
}

void Context::pinLibrary() {
    if (pinned_ != nullptr) return;
    // A VST3 bundle is a folder: the module in it is the library.
    std::string path = host::vst3ModulePath(options_.pluginPath);
    if (path.find('/') == std::string::npos) path = "./" + path;
    pinned_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace kv::validate
