// kv23 info for a VST3 plug-in: what a VST3 host's scanner reads (the
// factory's and the class's records, the buses), then each parameter as
// the controller describes it, the latency and the component's state.
#include <travesty/component.h>

#include <cstdio>
#include <string>

#include "host/vst3_instance.h"

namespace kv::host {

namespace {

std::string busLine(const v3_bus_info& bus) {
    std::string line = std::to_string(bus.channel_count) + " channels, \"" +
                       vst3::narrow(bus.bus_name) + "\", " +
                       (bus.bus_type == V3_MAIN ? "main" : "aux");
    if ((bus.flags & V3_DEFAULT_ACTIVE) != 0) line += ", active by default";
    return line;
}

}  // namespace

int printVst3Info(Vst3Instance& instance) {
    Vst3Host& host = instance.vst3();
    const Vst3ClassRecord& r = host.record();
    std::printf("Plug-in file    %s\n", host.path().c_str());
    std::printf("Module          %s\n", host.modulePath().c_str());
    std::printf("Format          VST3 (SDK %s)\n", r.sdkVersion.c_str());
    std::printf("Class id        %s\n", r.cid.c_str());
    std::printf("Name            %s\n", r.name.c_str());
    std::printf("Vendor          %s\n", r.vendor.c_str());
    std::printf("Version         %s\n", r.version.c_str());
    std::printf("Categories      %s\n", r.subCategories.c_str());
    std::printf("Classes         %d in the factory\n", r.classCount);
    std::printf("Controller      %s\n",
                host.separateController() ? "a class of its own" : "the component itself");
    for (const bool input : {true, false}) {
        const auto& buses = host.buses(input);
        for (size_t i = 0; i < buses.size(); ++i)
            std::printf("%-15s %s\n",
                        ((input ? "Input bus " : "Output bus ") + std::to_string(i)).c_str(),
                        busLine(buses[i]).c_str());
    }
    // The main buses' channels, as the other formats print theirs.
    std::printf("Inputs          %d\n", instance.inputs());
    std::printf("Outputs         %d\n", instance.outputs());
    std::printf("64-bit audio    %s\n", host.canProcess(V3_SAMPLE_64) ? "yes" : "no");
    std::printf("Latency         %u samples\n", host.latency());
    std::printf("Parameters      %zu\n", host.params().size());
    std::printf("\n  %-10s  %-16s  %-10s  %-6s  %-12s  %s\n", "id", "title", "units", "steps",
                "normalised", "text");
    for (const Vst3ParamInfo& p : host.params()) {
        const double n = host.normalised(p.id);
        std::printf("  %-10u  %-16s  %-10s  %-6d  %-12.6f  %s\n", p.id, p.title.c_str(),
                    p.units.c_str(), p.stepCount, n, host.text(p.id, n).value_or("").c_str());
    }
    const auto state = host.saveState();
    if (state) {
        std::printf("\nState           %zu bytes:", state->size());
        for (uint8_t b : *state)
            std::printf(" %02x", b);
        std::printf("\n");
    } else {
        std::printf("\nState           none (get_state refused)\n");
    }
    return 0;
}

}  // namespace kv::host
