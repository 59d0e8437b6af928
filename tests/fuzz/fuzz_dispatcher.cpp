// The dispatcher as a fuzzed host drives it: random opcodes with random
// index, value and opt, and for every opcode that takes a pointer the
// pointer a host following the opcode's contract passes — exactly sized
// heap buffers, so the address sanitizer sees a single byte too many.
// Interleaved: parameter sets and gets, and short blocks of audio.
#include <memory>

#include "tests/fuzz/fuzz_support.h"

namespace {

using kvtest::broken;
using kvtest::Instance;
using kvtest::Reader;

// Characters before the zero for the opcodes that write text.
int32_t textLimit(int32_t opcode) {
    switch (opcode) {
        case effGetParamLabel:
        case effGetParamDisplay:
        case effGetParamName:
            return kVstMaxParamStrLen;
        case effGetProgramName:
        case effGetProgramNameIndexed:
            return kVstMaxProgNameLen;
        case effGetEffectName:
            return kVstMaxEffectNameLen;
        case effGetVendorString:
        case effGetProductString:
        case effShellGetNextPlugin:
            return kVstMaxVendorStrLen;
        default:
            return -1;
    }
}

// Records whose layout this host does not model: a zeroed block larger than
// any of them (parameter, pin and MIDI properties are all below 256 bytes).
constexpr size_t kOpaqueRecord = 512;

void runOpcode(Instance& fx, Reader& in) {
    int32_t opcode = in.take<uint8_t>() % 81;
    // effClose ends the instance (done after the input); effEditOpen needs a
    // real window and is driven by kv23 validate.
    if (opcode == effClose || opcode == effEditOpen) opcode = effEditIdle;
    const int32_t index = in.index();
    intptr_t value = in.index();
    float opt = in.take<float>();

    if (const int32_t limit = textLimit(opcode); limit >= 0) {
        auto text = std::make_unique<char[]>(static_cast<size_t>(limit) + 1);
        std::memset(text.get(), 0x5A, static_cast<size_t>(limit) + 1);
        fx.dispatch(opcode, index, value, text.get(), opt);
        // Written at all: then it ends with its zero inside the buffer.
        bool written = false;
        bool terminated = false;
        for (int32_t i = 0; i <= limit; ++i) {
            written = written || text[i] != 0x5A;
            terminated = terminated || text[i] == 0;
        }
        if (written && !terminated) broken("a text without its zero");
        return;
    }
    switch (opcode) {
        case effSetProgramName:
        case effCanDo: {
            // A zero-terminated text, up to the program name's limit for
            // effSetProgramName, of any length for canDo.
            size_t length = in.take<uint8_t>();
            if (opcode == effSetProgramName) length %= kVstMaxProgNameLen + 1;
            std::vector<uint8_t> text = in.bytes(length);
            text.push_back(0);
            const intptr_t answer = fx.dispatch(opcode, index, value, text.data(), opt);
            if (opcode == effCanDo && (answer < -1 || answer > 1)) broken("canDo out of -1..1");
            return;
        }
        case effGetChunk: {
            void* data = nullptr;
            const intptr_t size = fx.dispatch(opcode, index, value, &data, opt);
            if (size < 0 || (size > 0 && data == nullptr)) broken("a chunk size without data");
            // The chunk must be readable over its whole size.
            volatile uint8_t sum = 0;
            for (intptr_t i = 0; i < size; ++i)
                sum = sum + static_cast<const uint8_t*>(data)[i];
            return;
        }
        case effSetChunk: {
            const size_t size = in.take<uint8_t>() % 40;
            auto chunk = std::make_unique<uint8_t[]>(size > 0 ? size : 1);
            const std::vector<uint8_t> bytes = in.bytes(size);
            std::copy(bytes.begin(), bytes.end(), chunk.get());
            fx.dispatch(opcode, index, static_cast<intptr_t>(size),
                        size > 0 ? chunk.get() : nullptr, opt);
            return;
        }
        case effEditGetRect: {
            ERect* rect = nullptr;
            if (fx.dispatch(opcode, index, value, &rect, opt) != 0 && rect == nullptr) {
                broken("effEditGetRect answered 1 without a rectangle");
            }
            return;
        }
        case effSetSpeakerArrangement: {
            auto input = std::make_unique<VstSpeakerArrangement>();
            auto output = std::make_unique<VstSpeakerArrangement>();
            input->numChannels = in.take<int8_t>();
            output->numChannels = in.take<int8_t>();
            fx.dispatch(opcode, index, reinterpret_cast<intptr_t>(input.get()), output.get(), opt);
            return;
        }
        case effGetSpeakerArrangement: {
            VstSpeakerArrangement* input = nullptr;
            VstSpeakerArrangement* output = nullptr;
            fx.dispatch(opcode, index, reinterpret_cast<intptr_t>(&input), &output, opt);
            return;
        }
        case effEditKeyDown:
        case effEditKeyUp:
            // The modifier travels as a small whole number in opt.
            opt = static_cast<float>(in.take<uint8_t>());
            fx.dispatch(opcode, index, value, nullptr, opt);
            return;
        case effGetInputProperties:
        case effGetOutputProperties:
        case effGetParameterProperties:
        case effGetMidiProgramName:
        case effGetCurrentMidiProgram:
        case effGetMidiProgramCategory:
        case effGetMidiKeyName: {
            auto record = std::make_unique<uint8_t[]>(kOpaqueRecord);
            fx.dispatch(opcode, index, value, record.get(), opt);
            return;
        }
        case effSetProcessPrecision:
        case effSetTotalSampleToProcess:
        case effSetBlockSize:
        case effSetProgram:
            fx.dispatch(opcode, index, static_cast<intptr_t>(in.take<int64_t>()), nullptr, opt);
            return;
        default:
            // Opcodes without a pointer in their contract get none.
            fx.dispatch(opcode, index, value, nullptr, opt);
            return;
    }
}

void runAudio(Instance& fx, Reader& in) {
    const int32_t frames = in.take<uint8_t>() % 65;
    std::vector<float> l(static_cast<size_t>(frames)), r(static_cast<size_t>(frames));
    for (int32_t i = 0; i < frames; ++i) {
        l[static_cast<size_t>(i)] = static_cast<float>(in.take<int8_t>()) / 64.0f;
        r[static_cast<size_t>(i)] = static_cast<float>(in.take<int8_t>()) / 64.0f;
    }
    float* io[2] = {l.data(), r.data()};
    fx->processReplacing(fx.get(), io, io, frames);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    Instance fx;
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        switch (in.take<uint8_t>() % 8) {
            case 0:
                fx->setParameter(fx.get(), in.index(), in.take<float>());
                break;
            case 1:
                (void)fx->getParameter(fx.get(), in.index());
                break;
            case 2:
                runAudio(fx, in);
                break;
            default:
                runOpcode(fx, in);
                break;
        }
        fx.checkParameters();
    }
    return 0;
}
