// One instance of a plug-in, whatever its format, as kv23's commands and
// checks drive it: identity, channels, parameters with their texts, start
// and stop, blocks of audio with parameter changes inside them, saved state
// and the editor. Each format is one implementation over its own host
// (Vst2Instance over Vst2Host, ClapInstance over ClapHost, Vst3Instance
// over Vst3Host); which one a file
// gets is decided in one place, openPluginInstance(), by what the file is.
//
// Values are in the parameter's own units, as the format states them: a
// CLAP parameter's are its plain values (decibels, 0 or 1) between its
// minimum and maximum; a VST 2 parameter has no units but its 0 to 1, so
// that is its range. So `kv23 process --param N=V` means the same words in
// both formats: V in the parameter's own units. Checks that want "anywhere
// in the range" use fromNormalised().
//
// What a format cannot do is said by capabilities(), never faked: a VST 2
// plug-in hears a parameter change only between blocks, so a change inside
// a block takes effect before the block that holds it.
//
// Threads: load, identity, parameters' descriptions, state, start/stop and
// the editor belong to the thread that loaded the instance (the host's main
// thread); process belongs to one audio thread at a time. setValue/value may
// come from any thread when capabilities().valuesFromAnyThread. Otherwise
// value belongs to the main thread, and setValue from any thread reaches
// the plug-in between two blocks, never beside a running one (CLAP: a
// flush on the audio side, or an event at the next block's first frame).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kv::host {

enum class PluginFormat { Vst2, Clap, Vst3 };

// "VST 2", "CLAP", "VST3".
const char* formatName(PluginFormat format);

struct PluginIdentity {
    PluginFormat format = PluginFormat::Vst2;
    std::string name;
    std::string vendor;
    std::string version;  // as the format gives it ("1110", "1.1.10")
    // The id hosts keep in sessions: VST 2's unique ID as four characters,
    // CLAP's descriptor id, VST3's class id as 32 hex digits.
    std::string id;
};

struct ParameterInfo {
    // The format's own id: the VST 2 index, the CLAP or VST3 param id.
    uint32_t id = 0;
    std::string name;
    std::string unit;  // empty when the format gives none
    double min = 0.0;
    double max = 1.0;
    double defaultValue = 0.0;
    bool stepped = false;  // whole numbers only between min and max
    bool automatable = true;
    // The plug-in's own to set (a meter): setValue leaves it, as hosts do.
    bool readOnly = false;
};

// A parameter's new value at a frame of one block (0 = its first frame).
struct ParamChange {
    uint32_t frame = 0;
    uint32_t index = 0;  // the parameter's place in parameters()
    double value = 0.0;  // in its own units
};

struct Capabilities {
    // A change inside a block takes effect at its frame; else before the block.
    bool sampleAccurate = false;
    bool singlePrecision = true;  // 32-bit float blocks (old VST 2 plug-ins may lack them)
    bool doublePrecision = false;
    // setValue and value from any thread at any time (VST 2), or the
    // host's main thread only, the audio thread hearing them as events (CLAP).
    bool valuesFromAnyThread = false;
    // valueText for any value (else for the current value only) and textToValue.
    bool textsForAnyValue = false;
    bool state = false;   // the plug-in saves and loads state of its own
    bool editor = false;  // an editor for an X11 parent window
};

// What a command hears from the plug-in besides audio. Gestures and value
// changes come on whatever thread the plug-in used (its editor's, or the
// audio thread for a format that reports them from processing); a resize
// request on the main thread.
class InstanceListener {
  public:
    virtual ~InstanceListener() = default;
    virtual void gestureBegin(uint32_t /*index*/) {}
    virtual void gestureEnd(uint32_t /*index*/) {}
    virtual void valueChanged(uint32_t /*index*/, double /*value*/) {}
    // Whether the host gives the editor's window the new size (device pixels).
    virtual bool resizeRequested(int /*width*/, int /*height*/) { return false; }
    // Any other call into the host, by its name in the format
    // ("audioMasterIdle", "params.request_flush").
    virtual void hostCall(const std::string& /*name*/) {}
};

struct LoadOptions {
    FILE* trace = nullptr;  // every call the plug-in makes into the host, when set
    // Which plug-in of a file that holds several (CLAP: its id); empty: the first.
    std::string pluginId;
};

class PluginInstance {
  public:
    virtual ~PluginInstance() = default;
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    virtual const std::string& path() const = 0;
    virtual PluginIdentity identity() const = 0;
    virtual Capabilities capabilities() const = 0;
    virtual int inputs() const = 0;
    virtual int outputs() const = 0;

    virtual const std::vector<ParameterInfo>& parameters() const = 0;
    uint32_t parameterCount() const { return static_cast<uint32_t>(parameters().size()); }
    // A parameter by its id or its name, as a user types it ("3", "Volume").
    std::optional<uint32_t> findParameter(const std::string& idOrName) const;
    // The value `normalised` of the way from min to max (stepped: rounded).
    double fromNormalised(uint32_t index, double normalised) const;
    double toNormalised(uint32_t index, double value) const;

    // Leaves a read-only parameter as it is.
    virtual void setValue(uint32_t index, double value) = 0;
    virtual double value(uint32_t index) = 0;
    // The plug-in's text for `value` (with its unit when it has one), or
    // nothing when it gives none (or, without textsForAnyValue, when
    // `value` is not the current value).
    virtual std::optional<std::string> valueText(uint32_t index, double value) = 0;
    // The plug-in's reading of a typed text; nothing when it reads none.
    virtual std::optional<double> textToValue(uint32_t index, const std::string& text) = 0;

    // Ready to process at `rate` in blocks of at most `maxFrames`; false
    // when the plug-in refuses. stop() undoes it; start() again may change both.
    virtual bool start(double rate, uint32_t maxFrames) = 0;
    // Why the last start() answered false, naming the call that refused.
    virtual std::string refusal() const { return {}; }
    virtual void stop() = 0;
    virtual bool running() const = 0;

    // One block on the audio thread: `in` and `out` hold inputs() and
    // outputs() channels of `frames` frames (they may be the same buffers).
    // `changes` are sorted by frame. False when the plug-in reports an
    // error, or for double without doublePrecision.
    virtual bool process(float** in, float** out, uint32_t frames,
                         std::span<const ParamChange> changes = {}) = 0;
    virtual bool process(double** in, double** out, uint32_t frames,
                         std::span<const ParamChange> changes = {}) = 0;

    // The plug-in's own state, or nothing without it. load answers whether
    // the plug-in took the bytes where the format has an answer for it
    // (CLAP); VST 2 has none agreed, so there it is true whenever the
    // plug-in has state, and what it made of them shows in its values.
    virtual std::optional<std::vector<uint8_t>> saveState() = 0;
    virtual bool loadState(std::span<const uint8_t> bytes) = 0;

    // The editor in the X11 window `parent`. `scale` (0: none) is the
    // host's factor, given before the editor exists as hosts do.
    virtual bool openEditor(unsigned long parent, double scale = 0.0) = 0;
    // The editor's size in device pixels; false when it tells none (some
    // editors know it only once open).
    virtual bool editorSize(int& width, int& height) = 0;
    // The host's factor while the editor is open; false when refused.
    virtual bool setEditorScale(double scale) = 0;
    // One tick of the host's idle on the main thread: the editor's idle
    // (VST 2's effEditIdle; every CLAP timer once), and the flushes and
    // callbacks the plug-in asked for.
    virtual void idle() = 0;
    virtual bool editorOpen() const = 0;
    virtual void closeEditor() = 0;

    // The format's own end of the instance (VST 2's effClose, CLAP's
    // plugin.destroy), as a host that removes the plug-in does, also from
    // inside a call the plug-in made to it; the library stays loaded, and
    // every call afterwards does nothing.
    virtual void closeInstance() = 0;
    // The calls into the host in which a host of this format may act (close
    // the editor, close the instance) before it answers, as hostCall and the
    // other listener calls name them: what the re-entrancy checks act in.
    virtual std::vector<std::string> actingCalls() const = 0;

    // The first fault kv23 noticed in what the plug-in did after loading
    // (an event shorter than its type, a state without end), one sentence
    // naming it; empty when none.
    virtual std::string fault() const { return {}; }

    void setListener(InstanceListener* listener) { listener_ = listener; }

  protected:
    PluginInstance() = default;
    InstanceListener* listener() const { return listener_; }

  private:
    InstanceListener* listener_ = nullptr;
};

// The format of a plug-in file, judged by what it exports (clap_entry,
// GetPluginFactory, or VSTPluginMain / main), or of a VST3 bundle folder;
// nothing when it is none of them, with the reason.
std::optional<PluginFormat> pluginFormatOf(const std::string& path, std::string& error);

// Loads `path` in its format and creates one instance. On failure returns
// null and puts one sentence (what went wrong and what to do) into `error`.
std::unique_ptr<PluginInstance> openPluginInstance(const std::string& path, std::string& error,
                                                   const LoadOptions& options = LoadOptions());

}  // namespace kv::host
