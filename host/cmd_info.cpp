// kv23 info: what the plug-in says about itself, asked the way a host's
// scanner asks, plus its parameters and its state chunk.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/clap_instance.h"
#include "host/cli.h"
#include "host/plugin_instance.h"
#include "host/vst2_instance.h"
#include "host/vst3_instance.h"

namespace kv::host {

int printVst3Info(Vst3Instance& instance);  // cmd_info_vst3.cpp

namespace {

const char* categoryName(intptr_t category) {
    static const char* const names[] = {"unknown",     "effect",      "synth",   "analysis",
                                        "mastering",   "spatializer", "room fx", "surround fx",
                                        "restoration", "offline",     "shell",   "generator"};
    if (category >= 0 && category < static_cast<intptr_t>(sizeof names / sizeof names[0])) {
        return names[category];
    }
    return "?";
}

std::string flagNames(int32_t flags) {
    static const struct {
        int32_t bit;
        const char* name;
    } known[] = {
        {effFlagsHasEditor, "HasEditor"},
        {effFlagsHasClip, "HasClip"},
        {effFlagsHasVu, "HasVu"},
        {effFlagsCanMono, "CanMono"},
        {effFlagsCanReplacing, "CanReplacing"},
        {effFlagsProgramChunks, "ProgramChunks"},
        {effFlagsIsSynth, "IsSynth"},
        {effFlagsNoSoundInStop, "NoSoundInStop"},
        {effFlagsExtIsAsync, "ExtIsAsync"},
        {effFlagsExtHasBuffer, "ExtHasBuffer"},
        {effFlagsCanDoubleReplacing, "CanDoubleReplacing"},
    };
    std::string out;
    int32_t rest = flags;
    for (const auto& k : known) {
        if ((flags & k.bit) != 0) {
            if (!out.empty()) out += ", ";
            out += k.name;
            rest &= ~k.bit;
        }
    }
    if (rest != 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%X", static_cast<uint32_t>(rest));
        if (!out.empty()) out += ", ";
        out += std::string("unknown ") + buf;
    }
    return out.empty() ? "none" : out;
}

// What a CLAP plug-in says about itself: its descriptor, its main audio
// ports, its parameters (range, default, value and text) and its state.
int printClapInfo(ClapHost* clap, const std::vector<std::string>& ids) {
    const ClapDescriptor& d = clap->descriptor();
    std::string features;
    for (const std::string& f : d.features)
        features += (features.empty() ? "" : ", ") + f;
    std::printf("Plug-in file    %s\n", clap->path().c_str());
    if (ids.size() > 1) {
        std::string all;
        for (const std::string& id : ids)
            all += (all.empty() ? "" : ", ") + id;
        std::printf("Plug-ins        %zu in the file (--id picks one): %s\n", ids.size(),
                    all.c_str());
    }
    std::printf("Format          CLAP %u.%u.%u\n", d.clapVersion.major, d.clapVersion.minor,
                d.clapVersion.revision);
    std::printf("Id              %s\n", d.id.c_str());
    std::printf("Name            %s\n", d.name.c_str());
    std::printf("Vendor          %s\n", d.vendor.c_str());
    std::printf("Version         %s\n", d.version.c_str());
    std::printf("Features        %s\n", features.c_str());
    std::printf("Inputs          %u\n", clap->inputChannels());
    std::printf("Outputs         %u\n", clap->outputChannels());
    std::printf("Parameters      %zu\n", clap->params().size());
    std::printf("\n  id  %-8s  %-8s  %-8s  %-8s  %-8s  %s\n", "name", "min", "max", "default",
                "value", "text");
    for (const clap_param_info_t& p : clap->params()) {
        const double value = clap->value(p.id).value_or(p.default_value);
        // A name fills its field at most; one without its zero ends there.
        const std::string name(p.name, strnlen(p.name, sizeof p.name));
        std::printf("  %-2u  %-8s  %-8g  %-8g  %-8g  %-8g  %s\n", p.id, name.c_str(), p.min_value,
                    p.max_value, p.default_value, value, clap->valueText(p.id, value).c_str());
    }
    const auto state = clap->saveState();
    if (!clap->fault().empty()) {
        std::printf("\nState           unreadable\n");
        throw RunError("the plug-in's fault: " + clap->fault());
    }
    if (state) {
        std::printf("\nState           %zu bytes:", state->size());
        for (uint8_t b : *state)
            std::printf(" %02x", b);
        std::printf("\n");
    } else {
        std::printf("\nState           none\n");
    }
    return 0;
}

int runInfo(const std::vector<std::string>& args) {
    PluginChoice choice;
    ArgReader reader(args);
    while (!reader.done()) {
        const std::string& arg = reader.next();
        if (takePluginOption(reader, arg, choice)) continue;
        throw UsageError("unknown argument \"" + arg + "\"");
    }
    const LoadOptions options = loadOptions(choice);
    std::string error;
    const std::string path = choice.path.empty() ? defaultPluginPath() : choice.path;
    const std::unique_ptr<PluginInstance> instance = openPluginInstance(path, error, options);
    if (!instance) throw RunError(error);
    // What each format says of itself, in its own words: a scanner of that
    // format reads exactly these.
    if (auto* clap = dynamic_cast<ClapInstance*>(instance.get())) {
        std::string ignored;
        return printClapInfo(&clap->clap(), ClapHost::pluginIds(path, ignored));
    }
    if (auto* vst3 = dynamic_cast<Vst3Instance*>(instance.get())) return printVst3Info(*vst3);
    Vst2Host* host = &dynamic_cast<Vst2Instance&>(*instance).vst2();
    AEffect* e = host->effect();

    const std::string name = host->getString(effGetEffectName, 0, kVstMaxEffectNameLen);
    const std::string vendor = host->getString(effGetVendorString, 0, kVstMaxVendorStrLen);
    const std::string product = host->getString(effGetProductString, 0, kVstMaxProductStrLen);
    const intptr_t vendorVersion = host->dispatch(effGetVendorVersion);
    const intptr_t vstVersion = host->dispatch(effGetVstVersion);
    const intptr_t category = host->dispatch(effGetPlugCategory);

    std::printf("Plug-in file    %s\n", host->path().c_str());
    std::printf("Effect name     %s\n", name.c_str());
    std::printf("Vendor          %s\n", vendor.c_str());
    std::printf("Product         %s\n", product.c_str());
    std::printf("Vendor version  %ld\n", static_cast<long>(vendorVersion));
    std::printf("VST version     %ld\n", static_cast<long>(vstVersion));
    std::printf("Category        %ld (%s)\n", static_cast<long>(category), categoryName(category));
    std::printf("Unique ID       0x%08X '%s'\n", static_cast<uint32_t>(e->uniqueID),
                fourChars(e->uniqueID).c_str());
    std::printf("Version         %d\n", e->version);
    std::printf("Flags           0x%08X (%s)\n", static_cast<uint32_t>(e->flags),
                flagNames(e->flags).c_str());
    std::printf("Inputs          %d\n", e->numInputs);
    std::printf("Outputs         %d\n", e->numOutputs);
    std::printf("Programs        %d\n", e->numPrograms);
    std::printf("Parameters      %d\n", e->numParams);
    std::printf("Initial delay   %d\n", e->initialDelay);
    // Whether the editor takes a host's scale factor for dense screens
    // (answers canDo "supportsViewDpiScaling"), as Carla and JUCE hosts ask.
    const intptr_t scaling =
        host->dispatch(effCanDo, 0, 0, const_cast<char*>("supportsViewDpiScaling"));
    std::printf("Editor scale    %s\n", scaling == 1 ? "accepts the host's factor" : "no");
    std::printf("\n  #  %-8s  %-8s  %-8s  %-8s\n", "name", "value", "display", "label");
    for (int32_t i = 0; i < e->numParams; ++i) {
        std::printf("  %d  %-8s  %-8.6f  %-8s  %-8s\n", i, host->parameterName(i).c_str(),
                    static_cast<double>(host->getParameter(i)), host->parameterDisplay(i).c_str(),
                    host->parameterLabel(i).c_str());
    }
    const std::vector<uint8_t> chunk =
        (e->flags & effFlagsProgramChunks) != 0 ? host->getChunk(false) : std::vector<uint8_t>{};
    std::printf("\nState chunk     %zu bytes:", chunk.size());
    for (uint8_t b : chunk)
        std::printf(" %02x", b);
    std::printf("\n");
    return 0;
}

}  // namespace

extern const Command kInfoCommand = {
    "info",
    "print the plug-in's identity, flags, parameters and state chunk",
    "usage: kv23 info [--plugin PATH] [--trace]\n"
    "\n"
    "Loads the plug-in (VST 2, CLAP or VST3, told by what the file exports) and prints\n"
    "what it says of itself in its format's words. VST 2: sends effOpen and prints\n"
    "what it answers: effect name,\n"
    "vendor, product, vendor version, VST version, category, unique ID (hex and\n"
    "as four characters), version, flags (hex and by name), channel counts, the\n"
    "number of programs and parameters, each parameter's name, value, display\n"
    "text and label, and the state chunk in hex. Then sends effClose.\n"
    "\n"
    "For a CLAP plug-in (a .clap file): its descriptor (id, name, vendor, version,\n"
    "features), the channels of its main ports, each parameter's id, name, range,\n"
    "default, value and text, and its saved state in hex.\n"
    "\n"
    "For a VST3 plug-in (a .vst3 bundle, or the module in it): the class's record\n"
    "(id, name, vendor, version, sub-categories, SDK version), whether the\n"
    "controller is a class of its own, the audio buses, 64-bit support, the\n"
    "latency, each parameter's id, title, units, steps, normalised value and\n"
    "text, and the component's state in hex.\n",
    runInfo,
};

}  // namespace kv::host
