// Writes the LV2 bundle's two Turtle files, manifest.ttl and the plug-in's
// description, from the same tables the processing binary is built from
// (the ports of lv2_ports.h, the parameters of dsp/param_info.h, the
// identity of common/identity.h), so the description cannot drift from the
// code. Run by the build:
//   kv_lv2_write_ttl BUNDLE_DIR
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/identity.h"
#include "dsp/param_info.h"
#include "lv2/lv2_ports.h"
#include "lv2/port_values.h"

namespace {

using namespace kv::opamp;
using namespace kv::lv2;

constexpr const char* kPrefixes =
    "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n";
constexpr const char* kUiPrefixes =
    "@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix opts:  <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n\n";

std::string audioPort(uint32_t index, bool input, const char* symbol, const char* name) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "[\n        a lv2:AudioPort , lv2:%s ;\n        lv2:index %u ;\n"
                  "        lv2:symbol \"%s\" ;\n        lv2:name \"%s\" ;\n    ]",
                  input ? "InputPort" : "OutputPort", index, symbol, name);
    return text;
}

// A control input for one parameter: its range, default and unit in plain
// values, a switch as a toggle, a choice as an enumeration of its names.
std::string controlPort(const ParamInfo& p) {
    char head[256];
    std::snprintf(head, sizeof head,
                  "[\n        a lv2:InputPort , lv2:ControlPort ;\n        lv2:index %u ;\n"
                  "        lv2:symbol \"%s\" ;\n        lv2:name \"%s\" ;\n",
                  portOfParam(p.index), p.symbol, p.name);
    char range[256];
    const char* format = p.stepped() ? "        lv2:default %g ;\n        lv2:minimum %g ;\n"
                                       "        lv2:maximum %g ;\n"
                                     : "        lv2:default %.1f ;\n        lv2:minimum %.1f ;\n"
                                       "        lv2:maximum %.1f ;\n";
    std::snprintf(range, sizeof range, format, p.defaultPlain(), p.minPlain(), p.maxPlain());
    std::string kind;
    switch (p.kind) {
        case ParamKind::kDecibels:
            kind = "        units:unit units:db ;\n";
            break;
        case ParamKind::kSwitch:
            kind = "        lv2:portProperty lv2:toggled ;\n";
            break;
        case ParamKind::kChoice:
            kind = "        lv2:portProperty lv2:integer , lv2:enumeration ;\n";
            for (int i = 0; i < 2; ++i) {
                kind += "        lv2:scalePoint [ rdfs:label \"" + std::string(p.choices[i]) +
                        "\" ; rdf:value " + std::to_string(i) + " ] ;\n";
            }
            break;
    }
    return std::string(head) + range + kind + "    ]";
}

bool writeFile(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        std::perror(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s BUNDLE_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const std::string uri = std::string("<") + kv::identity::kLv2Uri + ">";

    const std::string ui = std::string("<") + kv::identity::kLv2UiUri + ">";
    // The UI lives in the manifest: a host learns everything about it
    // without reading the plug-in's description.
    const std::string manifest =
        std::string(kPrefixes) + kUiPrefixes + uri + "\n    a lv2:Plugin ;\n    lv2:binary <" +
        kBinaryName + "> ;\n    ui:ui " + ui + " ;\n    rdfs:seeAlso <KV23-T-ZuDiz.ttl> .\n\n" +
        ui + "\n    a ui:X11UI ;\n    ui:binary <" + kUiBinaryName +
        "> ;\n"
        "    lv2:requiredFeature ui:parent , ui:idleInterface ;\n"
        "    lv2:optionalFeature ui:resize , ui:touch , ui:noUserResize , opts:options , "
        "urid:map ;\n"
        "    lv2:extensionData ui:idleInterface ;\n"
        "    opts:supportedOption ui:scaleFactor ;\n"
        "    ui:portNotification [\n        ui:plugin " +
        uri +
        " ;\n        lv2:symbol \"peak\" ;\n        ui:protocol ui:floatProtocol ;\n    ] .\n";

    std::string plugin = std::string(kPrefixes) + uri +
                         "\n    a lv2:Plugin , lv2:DistortionPlugin , doap:Project ;\n"
                         "    doap:name \"" +
                         kv::identity::kName +
                         "\" ;\n"
                         "    doap:license <http://opensource.org/licenses/MIT> ;\n"
                         "    doap:maintainer [ foaf:name \"" +
                         kv::identity::kVendor +
                         "\" ] ;\n"
                         "    lv2:minorVersion " +
                         std::to_string(kv::identity::kLv2MinorVersion) +
                         " ;\n    lv2:microVersion " +
                         std::to_string(kv::identity::kLv2MicroVersion) +
                         " ;\n    lv2:optionalFeature lv2:hardRTCapable ;\n    lv2:port ";
    plugin += audioPort(kPortInLeft, true, "in_l", "In L") + " , ";
    plugin += audioPort(kPortInRight, true, "in_r", "In R") + " , ";
    plugin += audioPort(kPortOutLeft, false, "out_l", "Out L") + " , ";
    plugin += audioPort(kPortOutRight, false, "out_r", "Out R") + " , ";
    for (const ParamInfo& p : kParamInfo)
        plugin += controlPort(p) + " , ";
    char peak[384];
    std::snprintf(
        peak, sizeof peak,
        "[\n        a lv2:OutputPort , lv2:ControlPort ;\n        lv2:index %u ;\n"
        "        lv2:symbol \"peak\" ;\n        lv2:name \"Peak\" ;\n"
        "        lv2:default 0.0 ;\n        lv2:minimum 0.0 ;\n        lv2:maximum 2.0 ;\n"
        "        rdfs:comment \"The largest output level of either channel in the last %g s; "
        "above 1.0 the output went over full scale.\" ;\n    ]",
        static_cast<unsigned>(kPortPeak), kPeakHoldSeconds);
    plugin += peak;
    char latency[384];
    std::snprintf(latency, sizeof latency,
                  " , [\n        a lv2:OutputPort , lv2:ControlPort ;\n        lv2:index %u ;\n"
                  "        lv2:symbol \"latency\" ;\n        lv2:name \"Latency\" ;\n"
                  "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
                  "        lv2:designation lv2:latency ;\n"
                  "        rdfs:comment \"How many samples late the output is: 0 in Exact.\" ;\n"
                  "    ]",
                  static_cast<unsigned>(kPortLatency));
    plugin += latency;
    plugin += " .\n";

    return writeFile(dir + "/manifest.ttl", manifest) &&
                   writeFile(dir + "/KV23-T-ZuDiz.ttl", plugin)
               ? 0
               : 1;
}
