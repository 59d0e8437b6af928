#include "host/plugin_instance.h"

#include <dlfcn.h>

#include <cmath>
#include <filesystem>

#include "host/clap_host.h"
#include "host/clap_instance.h"
#include "host/vst2_host.h"
#include "host/vst2_instance.h"
#include "host/vst3_host.h"
#include "host/vst3_instance.h"

namespace kv::host {

const char* formatName(PluginFormat format) {
    switch (format) {
        case PluginFormat::Vst2:
            return "VST 2";
        case PluginFormat::Clap:
            return "CLAP";
        case PluginFormat::Vst3:
            return "VST3";
    }
    return "?";
}

std::optional<uint32_t> PluginInstance::findParameter(const std::string& idOrName) const {
    const std::vector<ParameterInfo>& all = parameters();
    for (size_t i = 0; i < all.size(); ++i) {
        if (idOrName == all[i].name || idOrName == std::to_string(all[i].id))
            return static_cast<uint32_t>(i);
    }
    return std::nullopt;
}

double PluginInstance::fromNormalised(uint32_t index, double normalised) const {
    const ParameterInfo& p = parameters().at(index);
    const double v = p.min + normalised * (p.max - p.min);
    return p.stepped ? std::round(v) : v;
}

double PluginInstance::toNormalised(uint32_t index, double value) const {
    const ParameterInfo& p = parameters().at(index);
    return p.max > p.min ? (value - p.min) / (p.max - p.min) : 0.0;
}

std::optional<PluginFormat> pluginFormatOf(const std::string& path, std::string& error) {
    // A path without a slash would be searched for on the library path.
    std::error_code ignored;
    // A VST3 bundle is a folder; its module is for this system.
    if (std::filesystem::is_directory(path, ignored)) {
        if (isVst3Path(path)) return PluginFormat::Vst3;
        error = path + " is a folder and no VST3 bundle (NAME.vst3)";
        return std::nullopt;
    }
    const std::string file = std::filesystem::absolute(path, ignored).string();
    void* library = dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown error");
        return std::nullopt;
    }
    std::optional<PluginFormat> format;
    if (dlsym(library, "clap_entry") != nullptr)
        format = PluginFormat::Clap;
    else if (dlsym(library, "GetPluginFactory") != nullptr)
        format = PluginFormat::Vst3;
    else if (dlsym(library, "VSTPluginMain") != nullptr || dlsym(library, "main") != nullptr)
        format = PluginFormat::Vst2;
    else
        error =
            path +
            " exports none of clap_entry, GetPluginFactory, VSTPluginMain: no plug-in kv23 hosts";
    dlclose(library);
    return format;
}

std::unique_ptr<PluginInstance> openPluginInstance(const std::string& path, std::string& error,
                                                   const LoadOptions& options) {
    std::string why;
    std::optional<PluginFormat> format = pluginFormatOf(path, why);
    // A file that does not load says why through its format's own loader,
    // whose sentences name what a user of that format can do about it.
    if (!format) {
        format = isClapFile(path)   ? PluginFormat::Clap
                 : isVst3Path(path) ? PluginFormat::Vst3
                                    : PluginFormat::Vst2;
    }
    if (*format == PluginFormat::Vst3) {
        Vst3Options vst3Options;
        vst3Options.trace = options.trace;
        auto vst3 = Vst3Host::load(path, error, vst3Options);
        if (!vst3) return nullptr;
        return std::make_unique<Vst3Instance>(std::move(vst3));
    }
    if (*format == PluginFormat::Clap) {
        auto clap = ClapHost::load(path, error, options.pluginId);
        if (!clap) return nullptr;
        return std::make_unique<ClapInstance>(std::move(clap));
    }
    HostOptions hostOptions;
    hostOptions.trace = options.trace;
    auto vst2 = Vst2Host::load(path, error, hostOptions);
    if (!vst2) return nullptr;
    return std::make_unique<Vst2Instance>(std::move(vst2));
}

}  // namespace kv::host
