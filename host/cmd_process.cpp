// kv23 process: runs an audio file (or the built-in demo signal) through the
// plug-in in blocks, as a host renders a track offline, and writes the result.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "common/identity.h"
#include "dsp/opamp_params.h"
#include "host/audio_file.h"
#include "host/channel_buffers.h"
#include "host/cli.h"
#include "host/demo_signal.h"
#include "host/plugin_instance.h"
#include "host/progress.h"

namespace kv::host {

namespace {

constexpr long kMaxBlock = 1 << 20;
constexpr int64_t kFileChunk = 8192;  // frames per file read and write

// One setting from the command line: --param N=V, or a named option
// (--gain, --volume, --pad1, --pad2) as its parameter and value.
struct Setting {
    std::string param;     // the index or, for a CLAP plug-in, the id or name
    double value = 0.0;    // as typed, in the parameter's own units; a named option's in dB
    bool named = false;    // from a named option
    float normalised = 0;  // a named option's value between its parameter's ends
    std::string typed;     // --param's N=V as typed, for messages
    // V when it is no plain number ("Clean", "+3 dB"): the plug-in reads it
    // (CLAP's text_to_value), where the format has a way to.
    std::string text;
};

// A setting whose value is a number, or a text for the plug-in to read.
Setting typedSetting(const std::string& param, const std::string& value, const std::string& what) {
    Setting s{param, 0.0, false, 0.0f, param + "=" + value, ""};
    try {
        s.value = parseNumber(value, what);
    } catch (const UsageError&) {
        if (value.empty()) throw;
        s.text = value;
    }
    return s;
}

struct ProcessRequest {
    std::string input;  // empty with --demo
    std::string output;
    bool demo = false;
    PluginChoice plugin;
    std::vector<Setting> settings;  // in command-line order
    std::string namedOption;        // --gain, --volume, --pad1 or --pad2 when one was given
    std::string automation;         // --automation FILE
    long block = 512;
    bool useDouble = false;
    std::optional<double> rate;
};

float checkedValue(double value, double lo, double hi, const std::string& what) {
    if (value < lo || value > hi) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s is %g, outside %g to %g", what.c_str(), value, lo, hi);
        throw UsageError(buf);
    }
    return static_cast<float>(value);
}

ProcessRequest parse(const std::vector<std::string>& args) {
    ProcessRequest r;
    std::vector<std::string> positional;
    ArgReader reader(args);
    while (!reader.done()) {
        const std::string& arg = reader.next();
        if (takePluginOption(reader, arg, r.plugin)) continue;
        if (arg == "--demo") {
            r.demo = true;
        } else if (arg == "--param") {
            const std::string& v = reader.valueOf(arg);
            const auto eq = v.find('=');
            if (eq == std::string::npos) throw UsageError("--param needs N=V, not \"" + v + "\"");
            r.settings.push_back(
                typedSetting(v.substr(0, eq), v.substr(eq + 1), "--param's value"));
        } else if (arg == "--automation") {
            r.automation = reader.valueOf(arg);
        } else if (arg == "--gain" || arg == "--volume") {
            r.namedOption = arg;
            const bool gain = arg == "--gain";
            const kv::opamp::DecibelScale& scale =
                gain ? kv::opamp::kGainScale : kv::opamp::kVolumeScale;
            const double db = parseNumber(reader.valueOf(arg), arg);
            checkedValue(db, scale.toDb(0.0), scale.toDb(1.0), arg + " (dB)");
            r.settings.push_back({std::to_string(gain ? kv::opamp::kGain : kv::opamp::kVolume), db,
                                  true, static_cast<float>(scale.fromDb(db)), "", ""});
        } else if (arg == "--pad1" || arg == "--pad2") {
            r.namedOption = arg;
            const int index = arg == "--pad1" ? kv::opamp::kPad1 : kv::opamp::kPad2;
            r.settings.push_back({std::to_string(index), 1.0, true, 1.0f, "", ""});
        } else if (arg == "--block") {
            r.block = parseInteger(reader.valueOf(arg), arg);
            if (r.block < 1 || r.block > kMaxBlock) {
                throw UsageError("--block is " + std::to_string(r.block) + ", outside 1 to " +
                                 std::to_string(kMaxBlock));
            }
        } else if (arg == "--double") {
            r.useDouble = true;
        } else if (arg == "--rate") {
            const double hz = parseNumber(reader.valueOf(arg), arg);
            r.rate = checkedValue(hz, 1000.0, 768000.0, "--rate (Hz)");
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option \"" + arg + "\"");
        } else {
            positional.push_back(arg);
        }
    }
    const size_t wanted = r.demo ? 1 : 2;
    if (positional.size() != wanted) {
        throw UsageError(r.demo ? "--demo takes one file name, OUT"
                                : "process needs two file names, IN and OUT");
    }
    if (r.demo) {
        r.output = positional[0];
    } else {
        r.input = positional[0];
        r.output = positional[1];
    }
    return r;
}

// How the file's channels meet the plug-in's inputs and outputs. Input
// channel c of the plug-in reads file channel source[c] (-1: silence, -2:
// the mean of all file channels); file channel k of OUT takes the plug-in's
// output sink[k].
struct ChannelMap {
    std::vector<int> source;
    std::vector<int> sink;
    std::string note;  // what a user would not expect, said on standard error
};

ChannelMap mapChannels(int fileChannels, int inputs, int outputs) {
    ChannelMap map;
    std::string note;
    for (int c = 0; c < inputs; ++c) {
        if (inputs == 1 && fileChannels > 1) {
            map.source.push_back(-2);
        } else if (fileChannels == 1) {
            // A mono file feeds the first two inputs: a stereo effect hears
            // it in the middle; further inputs (side-chains) stay silent.
            map.source.push_back(c < 2 ? 0 : -1);
        } else {
            map.source.push_back(c < fileChannels ? c : -1);
        }
    }
    if (inputs == 1 && fileChannels > 1) {
        note += "the plug-in has one input: the file's channels are mixed into it; ";
    } else if (inputs > std::max(fileChannels, 2)) {
        note += "inputs " + std::to_string(std::max(fileChannels, 2) + 1) + " to " +
                std::to_string(inputs) + " of the plug-in get silence; ";
    } else if (inputs < fileChannels && inputs > 0) {
        note += "the plug-in has fewer inputs than the file has channels; ";
    } else if (inputs == 0) {
        note += "the plug-in has no inputs: the file only sets the length; ";
    }
    const int outChannels = outputs > 2 ? outputs : fileChannels;
    for (int k = 0; k < outChannels; ++k)
        map.sink.push_back(outputs == 0 ? -1 : std::min(k, outputs - 1));
    if (outputs > 2) {
        note += "OUT gets all " + std::to_string(outputs) + " outputs of the plug-in as channels; ";
    } else if (outputs == 1 && fileChannels > 1) {
        note += "the plug-in has one output: every channel of OUT carries it; ";
    } else if (outputs == 0) {
        note += "the plug-in has no outputs: OUT is silent; ";
    }
    if (!note.empty()) note.resize(note.size() - 2);
    map.note = note;
    return map;
}

// Runs one block: `in` holds `frames` frames of the file's channels,
// interleaved; `out` gets the frames of OUT's channels. `pos` is the frame
// of the block's start in the whole render.
class BlockRunner {
  public:
    using Run32 = std::function<void(float**, float**, int32_t frames, int64_t pos)>;
    using Run64 = std::function<void(double**, double**, int32_t frames, int64_t pos)>;

    BlockRunner(int inputs, int outputs, size_t maxFrames, bool useDouble, ChannelMap map,
                Run32 run32, Run64 run64)
        : useDouble_(useDouble),
          map_(std::move(map)),
          f_(inputs, outputs, useDouble ? 0 : maxFrames),
          d_(inputs, outputs, useDouble ? maxFrames : 0),
          run32_(std::move(run32)),
          run64_(std::move(run64)) {}

    size_t outChannels() const { return map_.sink.size(); }
    // Output samples of the plug-in that were NaN or infinite, and the frame
    // of the render where the first was.
    int64_t nonFinite() const { return nonFinite_; }
    int64_t firstNonFinite() const { return firstNonFinite_; }

    void run(const float* in, int fileChannels, float* out, int64_t frames, int64_t pos) {
        if (useDouble_) {
            fill(d_, in, fileChannels, frames);
            run64_(d_.inPointers(), d_.outPointers(), static_cast<int32_t>(frames), pos);
            collect(d_, out, frames, pos);
        } else {
            fill(f_, in, fileChannels, frames);
            run32_(f_.inPointers(), f_.outPointers(), static_cast<int32_t>(frames), pos);
            collect(f_, out, frames, pos);
        }
    }

  private:
    template <typename T>
    void fill(ChannelBuffers<T>& b, const float* in, int fileChannels, int64_t frames) const {
        for (size_t c = 0; c < b.inputs(); ++c) {
            const int src = map_.source[c];
            std::vector<T>& dst = b.in(c);
            for (int64_t i = 0; i < frames; ++i) {
                double v = 0.0;
                if (src >= 0) {
                    v = in[i * fileChannels + src];
                } else if (src == -2) {
                    for (int k = 0; k < fileChannels; ++k)
                        v += in[i * fileChannels + k];
                    v /= fileChannels;
                }
                dst[static_cast<size_t>(i)] = static_cast<T>(v);
            }
        }
    }

    template <typename T>
    void collect(ChannelBuffers<T>& b, float* out, int64_t frames, int64_t pos) {
        for (size_t c = 0; c < b.outputs(); ++c) {
            for (int64_t i = 0; i < frames; ++i) {
                if (std::isfinite(b.out(c)[static_cast<size_t>(i)])) continue;
                if (nonFinite_++ == 0 || pos + i < firstNonFinite_) firstNonFinite_ = pos + i;
            }
        }
        const size_t channels = map_.sink.size();
        for (size_t k = 0; k < channels; ++k) {
            const int src = map_.sink[k];
            for (int64_t i = 0; i < frames; ++i) {
                out[static_cast<size_t>(i) * channels + k] =
                    src < 0 ? 0.0f : static_cast<float>(b.out(static_cast<size_t>(src))[i]);
            }
        }
    }

    bool useDouble_;
    ChannelMap map_;
    ChannelBuffers<float> f_;
    ChannelBuffers<double> d_;
    Run32 run32_;
    Run64 run64_;
    int64_t nonFinite_ = 0;
    int64_t firstNonFinite_ = -1;
};

// An automation file: one change a line, "FRAME PARAM VALUE", where PARAM
// is an index (or, for a CLAP plug-in, an id or a name) and VALUE is what
// --param takes for the plug-in; blank lines and lines from # on are skipped.
std::vector<std::pair<int64_t, Setting>> readAutomation(const std::string& path) {
    std::ifstream file(path);
    if (!file) throw RunError("cannot read the automation file " + path);
    std::vector<std::pair<int64_t, Setting>> changes;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::string where = path + " line " + std::to_string(number);
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string frame, param, value, extra;
        if (!(words >> frame)) continue;
        if (!(words >> param >> value) || (words >> extra)) {
            throw UsageError(where + ": expected FRAME PARAM VALUE");
        }
        const long at = parseInteger(frame, where + "'s frame");
        if (at < 0) throw UsageError(where + ": the frame is negative");
        const Setting s = typedSetting(param, value, where + "'s value");
        changes.emplace_back(at, s);
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return changes;
}

// Whether the plug-in is the one the named options and the demo's settings
// were made for: KV23-T ZuDiz (its id in either format) with the model's
// four parameters first (the VST 2 build has those alone, the others add
// the quality after them).
bool isOurPlugin(const PluginInstance& p) {
    const PluginIdentity id = p.identity();
    const uint32_t* w = kv::identity::kVst3ClassId;
    char vst3[33];
    std::snprintf(vst3, sizeof vst3, "%08X%08X%08X%08X", w[0], w[1], w[2], w[3]);
    return (id.id == kv::identity::kVst2UniqueIdText || id.id == kv::identity::kClapId ||
            id.id == vst3) &&
           p.parameterCount() >= kv::opamp::kNumParams;
}

// A named option's or the demo's setting, given between the parameter's
// ends, in the parameter's own units: a VST 2 parameter's are that 0 to 1
// itself (kept as the float VST 2 carries), a CLAP parameter's the decibels
// or switch positions the named options were typed in.
double ownUnits(const PluginInstance& p, uint32_t index, float normalised, double typed) {
    const ParameterInfo& info = p.parameters()[index];
    if (info.min == 0.0 && info.max == 1.0) return static_cast<double>(normalised);
    return typed;
}

// One setting as the parameter's place and the value it takes. A VST 2
// plug-in's parameters are numbered and take 0 to 1; a CLAP plug-in's
// have ids or names and plain values, which it checks itself. `where`
// names the automation file for its messages, empty for --param.
ParamChange resolve(PluginInstance& p, const Setting& s, const std::string& where) {
    const uint32_t count = p.parameterCount();
    if (s.named) {
        const auto index = static_cast<uint32_t>(std::stoi(s.param));
        return {0, index, ownUnits(p, index, s.normalised, s.value)};
    }
    if (p.identity().format == PluginFormat::Vst2) {
        if (!s.text.empty()) {
            throw UsageError("the value of --param " + s.typed +
                             " is no plain number (a VST 2 parameter takes 0 to 1)");
        }
        const long index = parseInteger(
            s.param, where.empty() ? "--param's index" : where + ": the parameter index");
        if (!where.empty() && (index < 0 || index >= static_cast<long>(count)))
            throw UsageError(where + ": parameter " + s.param + " does not exist");
        if (index < 0 || index > 1000)
            throw UsageError("parameter index " + std::to_string(index) + " does not exist");
        if (index >= static_cast<long>(count)) {
            throw UsageError("parameter index " + std::to_string(index) +
                             " does not exist (the plug-in has " + std::to_string(count) +
                             " parameters, 0 to " + std::to_string(static_cast<long>(count) - 1) +
                             ")");
        }
        const std::string what = where.empty() ? "the value of --param " + s.typed : s.typed;
        return {0, static_cast<uint32_t>(index), checkedValue(s.value, 0.0, 1.0, what)};
    }
    const auto index = p.findParameter(s.param);
    if (!index) {
        std::string names;
        for (const ParameterInfo& info : p.parameters())
            names +=
                std::string(names.empty() ? "" : ", ") + std::to_string(info.id) + " " + info.name;
        throw UsageError("the plug-in has no parameter \"" + s.param + "\" (it has " +
                         (names.empty() ? std::string("none") : names) + ")");
    }
    if (!s.text.empty()) {
        const auto read = p.textToValue(*index, s.text);
        if (!read)
            throw UsageError((where.empty() ? "" : where + ": ") +
                             "the plug-in reads no value of " + p.parameters()[*index].name +
                             " from \"" + s.text + "\"");
        return {0, *index, *read};
    }
    return {0, *index, s.value};
}

// The automation's changes, each at its frame of the whole render.
struct TimedChange {
    int64_t frame;
    ParamChange change;
};

int runProcess(const std::vector<std::string>& args) {
    const ProcessRequest r = parse(args);

    std::optional<SoundReader> reader;
    int channels = 2;
    int fileRate = r.rate ? static_cast<int>(std::lround(*r.rate)) : 48000;
    int sourceFormat = SF_FORMAT_FLOAT;
    int64_t total = 0;
    const DemoSignal demo(fileRate);
    if (r.demo) {
        total = demo.frames();
    } else {
        reader.emplace(r.input);
        channels = reader->channels();
        fileRate = reader->rate();
        sourceFormat = reader->format();
        total = reader->frames();
        if (channels != 1 && channels != 2) {
            throw RunError("the input " + r.input + " has " + std::to_string(channels) +
                           " channels; kv23 processes mono or stereo files");
        }
        if (sameFile(r.input, r.output)) {
            throw UsageError("OUT is the same file as IN (" + r.output +
                             "); name a different output file");
        }
    }
    const int outFormat = chooseOutputFormat(r.output, sourceFormat, channels, fileRate);
    const float pluginRate = static_cast<float>(r.rate ? *r.rate : fileRate);
    const auto automation = r.automation.empty() ? std::vector<std::pair<int64_t, Setting>>{}
                                                 : readAutomation(r.automation);

    std::string error;
    const std::string path = r.plugin.path.empty() ? defaultPluginPath() : r.plugin.path;
    const std::unique_ptr<PluginInstance> plugin =
        openPluginInstance(path, error, loadOptions(r.plugin));
    if (!plugin) throw RunError(error);
    const bool ours = isOurPlugin(*plugin);
    if (!r.namedOption.empty() && !ours) {
        throw UsageError(r.namedOption +
                         " sets a control of KV23-T ZuDiz; for this plug-in use --param N=V "
                         "(kv23 info lists its parameters)");
    }
    std::vector<ParamChange> settings;
    for (const Setting& s : r.settings)
        settings.push_back(resolve(*plugin, s, ""));
    std::vector<TimedChange> timed;
    for (const auto& [frame, s] : automation)
        timed.push_back({frame, resolve(*plugin, s, r.automation)});
    const Capabilities can = plugin->capabilities();
    if (r.useDouble ? !can.doublePrecision : !can.singlePrecision) {
        throw RunError(std::string("the plug-in cannot process ") +
                       (r.useDouble ? "64-bit (drop --double)" : "32-bit float") + " audio");
    }
    if (!plugin->start(pluginRate, static_cast<uint32_t>(r.block))) {
        const std::string why = plugin->refusal();
        throw RunError(why.empty() ? "the plug-in refused to start at " +
                                         std::to_string(static_cast<long>(pluginRate)) + " Hz"
                                   : "the plug-in refused to start: " + why);
    }
    for (const ParamChange& c : settings)
        plugin->setValue(c.index, c.value);

    // The automation's changes inside each block, at their frames in it (a
    // format without sample-accurate changes applies them before the block:
    // capabilities().sampleAccurate). One cursor walks the sorted changes,
    // so a render costs in proportion to its events.
    size_t next = 0;
    std::vector<ParamChange> inBlock;
    const auto changesFor = [&](int64_t pos, int32_t frames) {
        inBlock.clear();
        while (next < timed.size() && timed[next].frame < pos + frames) {
            if (timed[next].frame >= pos) {
                ParamChange c = timed[next].change;
                c.frame = static_cast<uint32_t>(timed[next].frame - pos);
                inBlock.push_back(c);
            }
            ++next;
        }
        return std::span<const ParamChange>(inBlock);
    };
    const auto failed = [&plugin](int64_t pos) {
        const std::string fault = plugin->fault();
        return RunError("the plug-in's process answered an error at frame " + std::to_string(pos) +
                        (fault.empty() ? "" : " (" + fault + ")"));
    };
    const BlockRunner::Run32 run32 = [&](float** in, float** out, int32_t frames, int64_t pos) {
        if (!plugin->process(in, out, static_cast<uint32_t>(frames), changesFor(pos, frames)))
            throw failed(pos);
    };
    const BlockRunner::Run64 run64 = [&](double** in, double** out, int32_t frames, int64_t pos) {
        if (!plugin->process(in, out, static_cast<uint32_t>(frames), changesFor(pos, frames)))
            throw failed(pos);
    };

    ChannelMap map = mapChannels(channels, plugin->inputs(), plugin->outputs());
    const int outChannels = static_cast<int>(map.sink.size());
    if (!map.note.empty()) std::fprintf(stderr, "kv23 process: %s\n", map.note.c_str());
    const bool demoSettings = r.demo && ours;
    if (r.demo && !demoSettings) {
        std::fprintf(stderr,
                     "kv23 process: the demo's settings are made for KV23-T ZuDiz; this plug-in "
                     "keeps its own (set them with --param N=V)\n");
    }
    const int writeFormat = outChannels == channels
                                ? outFormat
                                : chooseOutputFormat(r.output, sourceFormat, outChannels, fileRate);
    SoundWriter writer(r.output, fileRate, outChannels, writeFormat);

    std::array<bool, 4> pinned{};
    for (const ParamChange& c : settings) {
        if (c.index < 4) pinned[c.index] = true;
    }

    BlockRunner runner(plugin->inputs(), plugin->outputs(), static_cast<size_t>(r.block),
                       r.useDouble, std::move(map), run32, run64);
    // Files are read and written in chunks of whole blocks: libsndfile makes
    // one system call per request, which would dominate with small blocks.
    const int64_t chunk = r.block * std::max<int64_t>(1, (kFileChunk + r.block - 1) / r.block);
    std::vector<float> buffer(static_cast<size_t>(chunk) * channels);
    std::vector<float> rendered(static_cast<size_t>(chunk) * outChannels);
    ProgressBar progress(total, total > static_cast<int64_t>(fileRate) * 5);
    std::array<float, 4> applied{-1.0f, -1.0f, -1.0f, -1.0f};
    int64_t done = 0;
    for (;;) {
        int64_t got = 0;
        if (r.demo) {
            got = std::min(chunk, total - done);
            if (got > 0) demo.render(done, got, buffer.data());
        } else {
            got = reader->read(buffer.data(), chunk);
        }
        if (got <= 0) break;
        for (int64_t at = 0; at < got;) {
            int64_t frames = std::min<int64_t>(r.block, got - at);
            if (demoSettings) {
                // Cut the block where the demo's settings change, and apply
                // them before it, as an automation lane would.
                const int64_t pos = done + at;
                frames = std::min(frames, DemoSignal::nextChange(pos) - pos);
                const auto p = demo.parametersAt(pos);
                for (uint32_t i = 0; i < 4; ++i) {
                    if (!pinned[i] && p[i] != applied[i])
                        plugin->setValue(
                            i, ownUnits(*plugin, i, p[i], plugin->fromNormalised(i, p[i])));
                    applied[i] = p[i];
                }
            }
            runner.run(buffer.data() + at * channels, channels, rendered.data() + at * outChannels,
                       frames, done + at);
            at += frames;
        }
        writer.write(rendered.data(), got);
        done += got;
        progress.update(done);
    }
    progress.finish();
    plugin->stop();
    // A render with NaN or infinite samples is no render: a player or a mix
    // that reads it goes silent or blows up. OUT is not written.
    if (runner.nonFinite() > 0) {
        throw RunError("the plug-in wrote " + std::to_string(runner.nonFinite()) +
                       " samples that are not finite (NaN or infinity), the first at frame " +
                       std::to_string(runner.firstNonFinite()) + "; " + r.output +
                       " was not written");
    }
    if (const std::string fault = plugin->fault(); !fault.empty())
        std::fprintf(stderr, "kv23 process: the plug-in's fault: %s\n", fault.c_str());
    writer.commit();
    return 0;
}

}  // namespace

extern const Command kProcessCommand = {
    "process",
    "run an audio file, or the built-in demo, through the plug-in",
    "usage: kv23 process IN OUT [options]\n"
    "       kv23 process --demo OUT [options]\n"
    "\n"
    "Reads IN (any file libsndfile reads: WAV, FLAC, AIFF, Ogg, ...), starts the\n"
    "plug-in (VST 2: effOpen, effSetSampleRate, effSetBlockSize, effMainsChanged 1;\n"
    "CLAP: activate, start_processing; VST3: setup_processing, set_active,\n"
    "set_processing), sets the parameters, processes the audio in blocks (VST 2:\n"
    "processReplacing or processDoubleReplacing; CLAP and VST3: process with 32- or\n"
    "64-bit buffers), and writes OUT with the rate and\n"
    "channel count of IN (a mono file gets the left output). The file's channels\n"
    "go to the plug-in's inputs in order; a mono file feeds the first two, a\n"
    "plug-in with one input gets the channels mixed, inputs beyond the file's\n"
    "channels get silence, and a plug-in with more than two outputs gives OUT one\n"
    "channel per output; anything but a plain match is said on standard error.\n"
    "The named options (--gain ... --pad2) and the demo's settings are for\n"
    "KV23-T ZuDiz; other plug-ins take --param and keep their own settings.\n"
    "The format follows\n"
    "OUT's extension; a float input gives a float output, otherwise the sample\n"
    "size of IN is kept where the format allows it. Integer outputs clip at full\n"
    "scale. OUT appears only when everything worked.\n"
    "\n"
    "options:\n"
    "  --plugin PATH   the plug-in file (default: see kv23 --help)\n"
    "  --param N=V     set parameter N (0 Gain, 1 Pad 1, 2 Pad 2, 3 Volume) to the\n"
    "                  normalised value V, 0 to 1\n"
    "  --gain DB       drive gain, -8 to +24 dB (parameter 0 = (DB+8)/32)\n"
    "  --volume DB     output volume, -32 to +32 dB (parameter 3 = (DB+32)/64)\n"
    "  --pad1          switch on Pad 1, +10 dB at the input\n"
    "  --pad2          switch on Pad 2, -10 dB at the input\n"
    "  --block N       frames per processing call, 1 to 1048576 (default 512;\n"
    "                  the last block may be shorter)\n"
    "  --double        process in 64-bit floating point (where the plug-in offers it)\n"
    "  --rate HZ       the sample rate told to the plug-in (default: IN's rate);\n"
    "                  OUT keeps IN's rate\n"
    "  --automation F  change parameters during the render: F holds lines\n"
    "                  \"FRAME N V\" (# starts a comment), N and V as --param takes\n"
    "                  them; a VST 2 plug-in gets each change before the block\n"
    "                  that holds FRAME, a CLAP or VST3 plug-in at FRAME itself\n"
    "  --trace         print every call the plug-in makes into the host\n"
    "Settings are applied in the order given; out-of-range values are errors.\n"
    "A CLAP or VST3 plug-in (a .clap file, a .vst3 bundle) takes --param ID=V or\n"
    "NAME=V with V in the parameter's own units (kv23 info lists them; for\n"
    "KV23-T ZuDiz dB, 0 or 1), and the named options in dB; it checks and clamps\n"
    "the values itself. A V that is no plain number (\"+3 dB\", Quality=Clean)\n"
    "is read by the plug-in, as a value typed into a host's field is.\n"
    "\n"
    "--demo renders a built-in six-second stereo test signal at 48 kHz (or --rate)\n"
    "instead of reading IN, changing the settings between blocks as it goes;\n"
    "settings given on the command line stay fixed and replace the demo's own:\n"
    "\n" KV23_DEMO_SECTIONS,
    runProcess,
};

}  // namespace kv::host
