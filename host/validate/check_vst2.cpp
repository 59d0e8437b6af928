// VST 2's own rules, which no other format has: the AEffect record a
// scanner reads, the dispatcher's pointer contract (every opcode that writes
// a string gets a buffer of exactly its limit plus the zero, followed by
// canary bytes; every opcode survives a host that passes a null pointer),
// parameter indices, and chunks handed over as a pointer and a size.
#include <bit>
#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host/validate/isolation.h"
#include "host/validate/signal.h"
#include "host/validate/validator.h"
#include "host/vst2_instance.h"

namespace kv::validate {

namespace {

// The VST 2 host under an instance of the vst2 group, which runs for VST 2
// plug-ins alone.
host::Vst2Host& vst2Of(host::PluginInstance& instance) {
    auto* vst2 = dynamic_cast<host::Vst2Instance*>(&instance);
    if (vst2 == nullptr) throw std::runtime_error("not a VST 2 plug-in");
    return vst2->vst2();
}

struct StringOpcode {
    int32_t opcode;
    const char* name;
    size_t limit;   // characters before the zero
    bool mustName;  // a host shows this text: it may not be empty
    bool indexed;   // one string per parameter
};

constexpr StringOpcode kStringOpcodes[] = {
    {effGetProgramName, "effGetProgramName", kVstMaxProgNameLen, false, false},
    {effGetParamLabel, "effGetParamLabel", kVstMaxParamStrLen, false, true},
    {effGetParamDisplay, "effGetParamDisplay", kVstMaxParamStrLen, true, true},
    {effGetParamName, "effGetParamName", kVstMaxParamStrLen, true, true},
    {effGetProgramNameIndexed, "effGetProgramNameIndexed", kVstMaxProgNameLen, false, false},
    {effGetEffectName, "effGetEffectName", kVstMaxEffectNameLen, true, false},
    {effGetVendorString, "effGetVendorString", kVstMaxVendorStrLen, true, false},
    {effGetProductString, "effGetProductString", kVstMaxProductStrLen, true, false},
};

// One call with a canary buffer; an empty string when the contract holds.
std::string oneString(host::Vst2Host& h, const StringOpcode& op, int32_t index, bool valid) {
    CanaryBuffer buffer(op.limit + 1);
    h.dispatch(op.opcode, index, 0, buffer.data());
    const std::string where = format("%s(index %d)", op.name, index);
    if (const size_t damage = buffer.tailDamage(); damage > 0) {
        return format("%s wrote %zu bytes past its %zu + 1", where.c_str(), damage, op.limit);
    }
    if (buffer.untouched()) {
        // Writing nothing is fine for an index out of range or an opcode the
        // plug-in does not answer; a name a host must show has to be there.
        if (valid && op.mustName) return where + " wrote nothing";
        return {};
    }
    const size_t zero = buffer.firstZero();
    if (zero > op.limit) return where + " left the text without its zero";
    if (valid && op.mustName && zero == 0) return where + " answered an empty text";
    return {};
}

void stringLimits(Context& ctx) {
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        int calls = 0;
        auto h = ctx.startedVst2();
        const int32_t n = h->numParams();
        for (const StringOpcode& op : kStringOpcodes) {
            std::vector<std::pair<int32_t, bool>> indices;
            if (op.indexed) {
                for (int32_t i = 0; i < n; ++i)
                    indices.emplace_back(i, true);
                indices.emplace_back(n, false);
                indices.emplace_back(-1, false);
            } else {
                indices.emplace_back(0, op.opcode != effGetProgramNameIndexed);
                indices.emplace_back(-1, false);
                indices.emplace_back(1000, false);
            }
            for (const auto& [index, valid] : indices) {
                // Values that make the display text as long as it gets.
                for (float v : {0.0f, 0.7f, 1.0f, 1.0f / 3.0f}) {
                    if (op.indexed && valid) h->setParameter(index, v);
                    std::string problem = oneString(*h, op, index, valid);
                    if (!problem.empty()) return problem;
                    ++calls;
                    if (!op.indexed || !valid) break;
                }
            }
        }
        return passedWith(
            format("%d calls with 8, 24, 32 and 64 characters plus the zero: "
                   "canaries intact, texts terminated",
                   calls));
    });
    ctx.report().check(outcome.ok, "vst2.string-limits", outcome.message);
}

// canDo with texts no host should send but some do: empty, very long,
// not a capability at all. The answer must be one of -1, 0, 1.
void canDoTexts(Context& ctx) {
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        auto h = ctx.startedVst2();
        std::string longText(5000, 'x');
        const char* texts[] = {"",         "receiveVstMidiEvent", "sendVstEvents", "bypass",
                               "\xff\xfe", longText.c_str()};
        for (const char* text : texts) {
            const intptr_t answer = h->dispatch(effCanDo, 0, 0, const_cast<char*>(text));
            if (answer < -1 || answer > 1) {
                return format("canDo(\"%.20s\") answered %ld", text, static_cast<long>(answer));
            }
        }
        return {};
    });
    ctx.report().check(outcome.ok, "vst2.can-do-texts",
                       outcome.ok ? "6 texts, answers in -1..1" : outcome.message);
}

// Hosts (and fuzzers pretending to be hosts) pass null where a pointer is
// expected. Each opcode is tried in its own child so that one crash names
// the opcode and the others still run.
void nullPointers(Context& ctx) {
    auto h = ctx.startedVst2();
    std::string crashed;
    int survived = 0;
    int tried = 0;
    for (int32_t opcode = 0; opcode <= 80; ++opcode) {
        if (opcode == effClose) continue;  // ends the instance; tried last
        ++tried;
        const ChildOutcome outcome = runInChild(
            [&]() -> std::string {
                // Sane values beside the null pointer, so that what is tried
                // is the pointer and not a rate or block size of 0.
                const bool sizes = opcode == effSetBlockSize || opcode == 43;
                const intptr_t value = sizes ? 512 : 0;
                const float opt = opcode == effSetSampleRate || opcode == 43 ? 44100.0f : 0.0f;
                h->dispatch(opcode, 0, value, nullptr, opt);
                // Whatever was called, the instance must still work.
                h->dispatch(effGetVendorVersion);
                h->dispatch(effEditClose);
                h->close();
                return {};
            },
            20);
        if (outcome.ok) {
            ++survived;
        } else if (crashed.size() < 200) {
            crashed +=
                format("%s%d (%s)", crashed.empty() ? "" : ", ", opcode, outcome.message.c_str());
        }
    }
    ctx.report().check(
        crashed.empty(), "vst2.null-pointer",
        crashed.empty()
            ? format("opcodes 0-80 with a null pointer: %d of %d survived", survived, tried)
            : "crashed on opcode " + crashed);
}

// Host opcodes out of the table and stray values: answered, not crashed on.
void strayOpcodes(Context& ctx) {
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        auto instance = ctx.started();
        host::Vst2Host* h = &vst2Of(*instance);
        char scratch[256] = {};
        for (int32_t opcode : {81, 100, 1000, -1, -100, 0x7FFFFFFF}) {
            const intptr_t answer = h->dispatch(opcode, 7, 7, scratch, 0.5f);
            if (answer != 0)
                return format("opcode %d answered %ld", opcode, static_cast<long>(answer));
        }
        for (intptr_t value : {intptr_t{-1}, intptr_t{0x7FFFFFFF}, intptr_t{-0x7FFFFFFF}}) {
            h->dispatch(effSetProgram, 0, value);
            h->dispatch(effSetBlockSize, 0, value);
            h->dispatch(effMainsChanged, 0, value);
            h->dispatch(effSetTotalSampleToProcess, 0, value);
            h->dispatch(effSetEditKnobMode, 0, value);
        }
        for (float rate : {0.0f, -1.0f, 1.0f, 1e9f, std::numeric_limits<float>::quiet_NaN()}) {
            h->dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        }
        h->dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
        const Stereo out = runThrough(*instance, square(64, 1.0), RunOptions{});
        if (firstNonFinite(out) < out.frames()) return "non-finite output after odd sample rates";
        return {};
    });
    ctx.report().check(outcome.ok, "vst2.stray-values",
                       outcome.ok ? "unknown opcodes answer 0; odd rates, sizes, programs survived"
                                  : outcome.message);
}

std::vector<float> readParameters(host::Vst2Host& h) {
    std::vector<float> values;
    for (int32_t i = 0; i < h.numParams(); ++i)
        values.push_back(h.getParameter(i));
    return values;
}

bool sameBits(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

void setAllVst2(host::Vst2Host& h, const std::vector<float>& values) {
    for (int32_t i = 0; i < h.numParams() && i < static_cast<int32_t>(values.size()); ++i)
        h.setParameter(i, values[static_cast<size_t>(i)]);
}

void identity(Context& ctx) {
    std::string error;
    auto instance = ctx.loadVst2(error);
    if (!instance) {
        ctx.report().fail("vst2.aeffect", error);
        return;
    }
    const AEffect* e = instance->effect();
    std::string problems;
    auto need = [&problems](bool ok, const char* what) {
        if (!ok) problems += problems.empty() ? what : std::string(", ") + what;
    };
    // Instruments have no inputs and analysers may have no outputs.
    need(e->numInputs >= 0 && e->numInputs <= 64, "input count");
    need(e->numOutputs >= 0 && e->numOutputs <= 64, "output count");
    need(e->numInputs + e->numOutputs >= 1, "neither inputs nor outputs");
    need(e->numParams >= 0 && e->numParams <= 10000, "parameter count");
    need(e->numPrograms >= 0, "program count");
    need(e->uniqueID != 0, "unique ID");
    need(e->setParameter != nullptr && e->getParameter != nullptr, "parameter functions");
    need((e->flags & effFlagsCanReplacing) != 0 && e->processReplacing != nullptr,
         "32-bit replacing processing");
    need((e->flags & effFlagsCanDoubleReplacing) == 0 || e->processDoubleReplacing != nullptr,
         "64-bit processing announced but missing");
    // Hosts ignore ioRatio unless a plug-in changes the rate; most leave 0.
    need(std::isfinite(e->ioRatio) && e->ioRatio >= 0.0f, "io ratio");
    // Scanners look at the category before effOpen.
    const intptr_t category = instance->dispatch(effGetPlugCategory);
    need(category >= 0 && category <= 11, "category");
    ctx.report().check(problems.empty(), "vst2.aeffect",
                       problems.empty()
                           ? format("'%s', %d in, %d out, %d parameters, flags 0x%X",
                                    host::fourChars(e->uniqueID).c_str(), e->numInputs,
                                    e->numOutputs, e->numParams, static_cast<unsigned>(e->flags))
                           : "wrong: " + problems);
}

void invalidIndex(Context& ctx) {
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        auto h = ctx.startedVst2();
        const std::vector<float> before = readParameters(*h);
        const int32_t n = h->numParams();
        for (int32_t index : {n, n + 1, -1, INT_MAX, INT_MIN}) {
            h->setParameter(index, 0.75f);
            const float got = h->getParameter(index);
            if (!std::isfinite(got))
                return format("getParameter(%d) answers %g", index, static_cast<double>(got));
        }
        if (readParameters(*h) != before)
            return "setParameter with an invalid index changed a parameter";
        return {};
    });
    ctx.report().check(outcome.ok, "vst2.invalid-index-ignored",
                       outcome.ok ? "indices n, n+1, -1, INT_MAX, INT_MIN" : outcome.message);
}

// A chunk of `size` bytes at the very end of readable memory: reading past
// it faults. The first bytes are a valid chunk of distinct values.
void chunkOfSize(Context& ctx, size_t size) {
    const std::string name = format("vst2.chunk-size-%zu", size);
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        auto h = ctx.startedVst2();
        const int32_t n = h->numParams();
        std::vector<float> target(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i)
            target[static_cast<size_t>(i)] = 0.0625f * static_cast<float>(1 + (i * 5) % 15);
        setAllVst2(*h, target);
        const std::vector<uint8_t> layout = h->getChunk();
        const std::vector<float> before(static_cast<size_t>(n), 0.5f);
        setAllVst2(*h, before);

        GuardedBytes bytes(size);
        if (!bytes.valid()) return "cannot map a guarded buffer";
        for (size_t i = 0; i < size; ++i) {
            bytes.data()[i] =
                i < layout.size() ? layout[i] : static_cast<uint8_t>(ctx.uniform() * 256);
        }
        h->dispatch(effSetChunk, 0, static_cast<intptr_t>(size), bytes.data());
        const std::vector<float> after = readParameters(*h);
        if (layout.size() != 4u * static_cast<size_t>(n))
            return {};  // unknown layout: survival only
        for (int32_t i = 0; i < n; ++i) {
            const size_t k = static_cast<size_t>(i);
            const bool covered = size >= 4 * (k + 1);
            const bool whole = size >= layout.size();
            const float got = after[k];
            // A complete chunk must be applied; a short one may be applied
            // as far as it goes or ignored; bytes it lacks change nothing.
            const bool ok = whole
                                ? sameBits(got, target[k])
                                : (covered ? (sameBits(got, target[k]) || sameBits(got, before[k]))
                                           : sameBits(got, before[k]));
            if (!ok) {
                return format("parameter %d reads %g after a %zu-byte chunk", i,
                              static_cast<double>(got), size);
            }
        }
        return {};
    });
    ctx.report().check(outcome.ok, name,
                       outcome.ok
                           ? format("%zu bytes at the end of a page: no over-read, values as "
                                    "far as the bytes go",
                                    size)
                           : outcome.message);
}

void nullChunk(Context& ctx) {
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        auto h = ctx.startedVst2();
        const std::vector<float> before = readParameters(*h);
        h->dispatch(effSetChunk, 0, 16, nullptr);
        h->dispatch(effSetChunk, 1, 16, nullptr);
        h->dispatch(effGetChunk, 0, 0, nullptr);
        h->dispatch(effGetChunk, 1, 0, nullptr);
        if (readParameters(*h) != before) return "a null chunk changed the parameters";
        return {};
    });
    ctx.report().check(
        outcome.ok, "vst2.null-chunk",
        outcome.ok ? "effSetChunk and effGetChunk with a null pointer" : outcome.message);
}

// A preset chunk (effGetChunk with index 1) comes back as the settings it
// was saved with, as a host's preset browser restores it.
void presetChunk(Context& ctx) {
    auto a = ctx.startedVst2();
    const std::vector<float> settings = randomSettings(ctx, a->numParams());
    setAllVst2(*a, settings);
    const std::vector<float> stored = readParameters(*a);
    std::vector<std::string> shown;
    for (int32_t i = 0; i < a->numParams(); ++i)
        shown.push_back(a->parameterDisplay(i));
    const std::vector<uint8_t> saved = a->getChunk(true);
    if (saved.empty()) {
        ctx.report().skip("vst2.preset-chunk", "the plug-in saves no preset chunk");
        return;
    }
    setAllVst2(*a, randomSettings(ctx, a->numParams()));
    a->setChunk(saved, true);
    std::string problem;
    const std::vector<float> now = readParameters(*a);
    for (size_t i = 0; i < now.size() && problem.empty(); ++i) {
        const std::string text = a->parameterDisplay(static_cast<int32_t>(i));
        if (now[i] != stored[i] && text != shown[i])
            problem = format("parameter %zu restored as %g \"%s\", saved as %g \"%s\"", i,
                             static_cast<double>(now[i]), text.c_str(),
                             static_cast<double>(stored[i]), shown[i].c_str());
    }
    ctx.report().check(
        problem.empty(), "vst2.preset-chunk",
        problem.empty() ? format("%zu bytes: values restored", saved.size()) : problem);
}

}  // namespace

std::vector<Check> vst2Checks() {
    std::vector<Check> checks = {
        {"vst2.aeffect", Tier::EveryHost, "the scanner rejects or misdescribes the plug-in",
         identity},
        {"vst2.preset-chunk", Tier::EveryHost,
         "a preset saved from the host's browser comes back with other settings", presetChunk},
        {"vst2.string-limits", Tier::Demanding,
         "a host that gives the documented buffer size has its memory overwritten by a longer "
         "text; an empty name leaves a blank in its lists",
         stringLimits},
        {"vst2.can-do-texts", Tier::Hostile,
         "a capability question with an odd text gets an answer the host cannot read", canDoTexts},
        {"vst2.null-pointer", Tier::Hostile,
         "a host (or a scripting bridge) that passes no buffer crashes", nullPointers},
        {"vst2.stray-values", Tier::Hostile,
         "an unknown opcode or an absurd value from a newer or broken host crashes or freezes "
         "it",
         strayOpcodes, true},
        {"vst2.invalid-index-ignored", Tier::Hostile,
         "a host with a stale parameter index crashes or changes another parameter", invalidIndex},
    };
    for (size_t size :
         {size_t{0}, size_t{4}, size_t{15}, size_t{16}, size_t{20}, size_t{1} << 20}) {
        checks.push_back({format("vst2.chunk-size-%zu", size), Tier::Hostile,
                          "loading a truncated or damaged session crashes the host",
                          [size](Context& c) { chunkOfSize(c, size); }});
    }
    checks.push_back({"vst2.null-chunk", Tier::Hostile,
                      "a host that restores an empty state crashes", nullChunk, true});
    for (Check& c : vst2EditorChecks())
        checks.push_back(std::move(c));
    return checks;
}

}  // namespace kv::validate
