// The dispatcher's pointer contract: every opcode that writes a string gets
// a buffer of exactly its limit plus the zero, followed by canary bytes; and
// every opcode survives a host that passes a null pointer.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host/validate/isolation.h"
#include "host/validate/signal.h"
#include "host/validate/validator.h"

namespace kv::validate {

namespace {

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
        auto h = ctx.started();
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
    ctx.report().check(outcome.ok, "opcodes.string-limits", outcome.message);
}

// canDo with texts no host should send but some do: empty, very long,
// not a capability at all. The answer must be one of -1, 0, 1.
void canDoTexts(Context& ctx) {
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        auto h = ctx.started();
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
    ctx.report().check(outcome.ok, "opcodes.can-do-texts",
                       outcome.ok ? "6 texts, answers in -1..1" : outcome.message);
}

// Hosts (and fuzzers pretending to be hosts) pass null where a pointer is
// expected. Each opcode is tried in its own child so that one crash names
// the opcode and the others still run.
void nullPointers(Context& ctx) {
    auto h = ctx.started();
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
        crashed.empty(), "opcodes.null-pointer",
        crashed.empty()
            ? format("opcodes 0-80 with a null pointer: %d of %d survived", survived, tried)
            : "crashed on opcode " + crashed);
}

// Host opcodes out of the table and stray values: answered, not crashed on.
void strayOpcodes(Context& ctx) {
    const ChildOutcome outcome = runInChild([&]() -> std::string {
        auto h = ctx.started();
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
        const Stereo out = runThrough(*h, square(64, 1.0), RunOptions{});
        if (firstNonFinite(out) < out.frames()) return "non-finite output after odd sample rates";
        return {};
    });
    ctx.report().check(outcome.ok, "opcodes.stray-values",
                       outcome.ok ? "unknown opcodes answer 0; odd rates, sizes, programs survived"
                                  : outcome.message);
}

}  // namespace

std::vector<Check> opcodeChecks() {
    return {
        {"opcodes.string-limits", Tier::Demanding,
         "a host that gives the documented buffer size has its memory overwritten by a longer "
         "text; an empty name leaves a blank in its lists",
         stringLimits},
        {"opcodes.can-do-texts", Tier::Hostile,
         "a capability question with an odd text gets an answer the host cannot read", canDoTexts},
        {"opcodes.null-pointer", Tier::Hostile,
         "a host (or a scripting bridge) that passes no buffer crashes", nullPointers},
        {"opcodes.stray-values", Tier::Hostile,
         "an unknown opcode or an absurd value from a newer or broken host crashes or freezes "
         "it",
         strayOpcodes, true},
    };
}

}  // namespace kv::validate
