#include "host/vst2_host.h"

#include "host/clap_sanity.h"
#include "host/plugin_calls.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

namespace kv::host {

namespace {

using EntryPoint = AEffect* (*)(audioMasterCallback);

// The instance being created: during VSTPluginMain the plug-in calls back
// before we know its AEffect, and AEffect::user is not set yet.
thread_local Vst2Host* tLoading = nullptr;

intptr_t hostCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                      float opt) {
    Vst2Host* host = nullptr;
    if (effect != nullptr && effect->user != nullptr) {
        host = static_cast<Vst2Host*>(effect->user);
    } else {
        host = tLoading;
    }
    if (host == nullptr) {
        // Someone else's instance, or a call after we let go: answer like a
        // minimal host so that at least the version question works.
        return opcode == audioMasterVersion ? 2400 : 0;
    }
    return host->answer(opcode, index, value, ptr, opt);
}

const char* const kHostOpcodeNames[] = {
    "audioMasterAutomate",
    "audioMasterVersion",
    "audioMasterCurrentId",
    "audioMasterIdle",
    "audioMasterPinConnected",
    "opcode 5",
    "audioMasterWantMidi",
    "audioMasterGetTime",
    "audioMasterProcessEvents",
    "audioMasterSetTime",
    "audioMasterTempoAt",
    "audioMasterGetNumAutomatableParameters",
    "audioMasterGetParameterQuantization",
    "audioMasterIOChanged",
    "audioMasterNeedIdle",
    "audioMasterSizeWindow",
    "audioMasterGetSampleRate",
    "audioMasterGetBlockSize",
    "audioMasterGetInputLatency",
    "audioMasterGetOutputLatency",
    "audioMasterGetPreviousPlug",
    "audioMasterGetNextPlug",
    "audioMasterWillReplaceOrAccumulate",
    "audioMasterGetCurrentProcessLevel",
    "audioMasterGetAutomationState",
    "audioMasterOfflineStart",
    "audioMasterOfflineRead",
    "audioMasterOfflineWrite",
    "audioMasterOfflineGetCurrentPass",
    "audioMasterOfflineGetCurrentMetaPass",
    "audioMasterSetOutputSampleRate",
    "audioMasterGetOutputSpeakerArrangement",
    "audioMasterGetVendorString",
    "audioMasterGetProductString",
    "audioMasterGetVendorVersion",
    "audioMasterVendorSpecific",
    "audioMasterSetIcon",
    "audioMasterCanDo",
    "audioMasterGetLanguage",
    "audioMasterOpenWindow",
    "audioMasterCloseWindow",
    "audioMasterGetDirectory",
    "audioMasterUpdateDisplay",
    "audioMasterBeginEdit",
    "audioMasterEndEdit",
    "audioMasterOpenFileSelector",
    "audioMasterCloseFileSelector",
    "audioMasterEditFile",
    "audioMasterGetChunkFile",
    "audioMasterGetInputSpeakerArrangement",
};

// Copies a host string into the plug-in's buffer of `size` bytes, the zero
// included (the vendor and product buffers hold 64 bytes in all).
void copyOut(void* ptr, const char* text, size_t size) {
    if (ptr == nullptr || size == 0) return;
    auto* out = static_cast<char*>(ptr);
    std::strncpy(out, text, size - 1);
    out[size - 1] = '\0';
}

}  // namespace

std::string hostOpcodeName(int32_t opcode) {
    constexpr int32_t count = sizeof(kHostOpcodeNames) / sizeof(kHostOpcodeNames[0]);
    if (opcode >= 0 && opcode < count) return kHostOpcodeNames[opcode];
    return "opcode " + std::to_string(opcode);
}

std::string fourChars(int32_t id) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>((static_cast<uint32_t>(id) >> shift) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
    }
    return s;
}

std::unique_ptr<Vst2Host> Vst2Host::load(const std::string& path, std::string& error,
                                         Options options) {
    std::unique_ptr<Vst2Host> host(new Vst2Host());
    host->path_ = path;
    host->options_ = std::move(options);

    if (::access(path.c_str(), R_OK) != 0) {
        error = "cannot read the plug-in file " + path + ": " + std::strerror(errno) +
                " (build it, or name it with --plugin PATH or $KV23_PLUGIN)";
        return nullptr;
    }
    // dlopen searches the library path for a bare name; a file name given by
    // the user always means that file.
    std::string openPath = path;
    if (openPath.find('/') == std::string::npos) openPath = "./" + openPath;
    dlerror();
    host->library_ = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (host->library_ == nullptr) {
        const char* why = dlerror();
        error = "cannot load the plug-in " + path + ": " + (why ? why : "unknown reason") +
                " (is it a VST 2.4 plug-in built for this machine?)";
        return nullptr;
    }
    // VSTPluginMain is the entry point of VST 2.4; plug-ins made for older
    // Linux hosts (every DPF plug-in Debian ships) export only the legacy
    // name `main`, which every Linux host still looks for.
    auto entry = reinterpret_cast<EntryPoint>(dlsym(host->library_, "VSTPluginMain"));
    if (entry == nullptr) entry = reinterpret_cast<EntryPoint>(dlsym(host->library_, "main"));
    if (entry == nullptr) {
        error = "the file " + path +
                " is a library but not a VST 2.4 plug-in: it exports neither VSTPluginMain nor "
                "main";
        return nullptr;  // the destructor unloads the library
    }

    tLoading = host.get();
    AEffect* effect = nullptr;
    try {
        PluginCall call("VSTPluginMain");
        effect = entry(hostCallback);
    } catch (...) {
        effect = nullptr;
    }
    tLoading = nullptr;

    if (effect == nullptr) {
        error = "the plug-in " + path + " returned no instance from VSTPluginMain" +
                (host->options_.versionAnswer == 0 ? " (the host version answer was 0)" : "");
        return nullptr;
    }
    if (AEffect probe{}; !copyIfReadable(&probe, effect, sizeof probe)) {
        error = "the plug-in " + path + " returned an instance at an address that cannot be read";
        return nullptr;
    }
    if (effect->magic != kEffectMagic) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(effect->magic));
        error = "the plug-in " + path + " returned a record with the wrong magic " + buf +
                " (expected 0x56737450 'VstP'); it is not a VST 2.4 plug-in";
        // Without the magic nothing else in the record can be trusted either,
        // so we neither close it nor touch it.
        return nullptr;
    }
    if (effect->dispatcher == nullptr) {
        error = "the plug-in " + path + " returned a record without a dispatcher";
        return nullptr;
    }
    // Counts no plug-in has: a host that believes them allocates or loops
    // without end. Nothing is called on such a record, effClose included.
    const struct {
        const char* field;
        int32_t value;
        int32_t most;
    } counts[] = {{"numParams", effect->numParams, kVstMaxParams},
                  {"numInputs", effect->numInputs, kVstMaxChannels},
                  {"numOutputs", effect->numOutputs, kVstMaxChannels},
                  {"numPrograms", effect->numPrograms, kVstMaxPrograms}};
    for (const auto& c : counts) {
        if (c.value < 0 || c.value > c.most) {
            error = "the plug-in " + path + " returned a record whose " + c.field + " is " +
                    std::to_string(c.value) + " (kv23 takes 0 to " + std::to_string(c.most) + ")";
            return nullptr;
        }
    }
    effect->user = host.get();
    host->effect_ = effect;
    return host;
}

Vst2Host::~Vst2Host() {
    close();
    if (library_ != nullptr) dlclose(library_);
}

intptr_t Vst2Host::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    if (effect_ == nullptr) return 0;
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string Vst2Host::getString(int32_t opcode, int32_t index, size_t limit) {
    // Generous and zeroed: a plug-in that ignores the limit still cannot
    // write past our buffer in practice, and we cut the answer at the limit.
    std::vector<char> buffer(std::max<size_t>(limit + 1, 256) + 256, '\0');
    dispatch(opcode, index, 0, buffer.data(), 0.0f);
    buffer[limit] = '\0';
    return std::string(buffer.data());
}

float Vst2Host::getParameter(int32_t index) {
    if (effect_ == nullptr || effect_->getParameter == nullptr) return 0.0f;
    return effect_->getParameter(effect_, index);
}

void Vst2Host::setParameter(int32_t index, float value) {
    if (effect_ == nullptr || effect_->setParameter == nullptr) return;
    effect_->setParameter(effect_, index, value);
}

std::string Vst2Host::parameterName(int32_t index) {
    return getString(effGetParamName, index, kVstMaxParamStrLen);
}

std::string Vst2Host::parameterLabel(int32_t index) {
    return getString(effGetParamLabel, index, kVstMaxParamStrLen);
}

std::string Vst2Host::parameterDisplay(int32_t index) {
    return getString(effGetParamDisplay, index, kVstMaxParamStrLen);
}

std::vector<uint8_t> Vst2Host::getChunk(bool preset) {
    void* data = nullptr;
    const intptr_t size = dispatch(effGetChunk, preset ? 1 : 0, 0, &data, 0.0f);
    if (size <= 0 || data == nullptr) return {};
    if (size > kVstMaxChunkBytes) {
        noteFault("effGetChunk answered " + std::to_string(size) +
                  " bytes, more than kv23 takes (" + std::to_string(kVstMaxChunkBytes >> 20) +
                  " MiB)");
        return {};
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!copyIfReadable(bytes.data(), data, bytes.size())) {
        noteFault("effGetChunk answered " + std::to_string(size) +
                  " bytes at an address that cannot be read");
        return {};
    }
    return bytes;
}

intptr_t Vst2Host::setChunk(const std::vector<uint8_t>& bytes, bool preset) {
    std::vector<uint8_t> copy = bytes;  // the plug-in gets a buffer it may not keep
    return dispatch(effSetChunk, preset ? 1 : 0, static_cast<intptr_t>(copy.size()), copy.data(),
                    0.0f);
}

void Vst2Host::processReplacing(float** in, float** out, int32_t frames) {
    if (effect_ != nullptr && effect_->processReplacing != nullptr) {
        effect_->processReplacing(effect_, in, out, frames);
    }
}

bool Vst2Host::canDouble() const {
    return effect_ != nullptr && (effect_->flags & effFlagsCanDoubleReplacing) != 0 &&
           effect_->processDoubleReplacing != nullptr;
}

void Vst2Host::processDoubleReplacing(double** in, double** out, int32_t frames) {
    // Without the flag the slot may hold anything (often a function that
    // does nothing): a host does not call it.
    if (canDouble()) {
        effect_->processDoubleReplacing(effect_, in, out, frames);
    }
}

void Vst2Host::start(float sampleRate, int32_t blockSize) {
    dispatch(effOpen);
    resume(sampleRate, blockSize);
}

void Vst2Host::resume(float sampleRate, int32_t blockSize) {
    sampleRate_ = sampleRate;
    blockSize_ = blockSize;
    dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
    dispatch(effSetBlockSize, 0, blockSize);
    dispatch(effMainsChanged, 0, 1);
    running_ = true;
}

void Vst2Host::stop() {
    if (running_) dispatch(effMainsChanged, 0, 0);
    running_ = false;
}

void Vst2Host::close() {
    if (effect_ == nullptr) return;
    stop();
    dispatch(effClose);
    effect_ = nullptr;
}

intptr_t Vst2Host::answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    HostCall call;
    call.opcode = opcode;
    call.index = index;
    call.value = value;
    call.opt = opt;
    if (opcode == audioMasterCanDo && ptr != nullptr) call.text = static_cast<const char*>(ptr);

    std::optional<intptr_t> hooked;
    if (hook_) hooked = hook_(call, ptr);

    intptr_t result = 0;
    if (hooked) {
        result = *hooked;
    } else {
        switch (opcode) {
            case audioMasterVersion:
                result = options_.versionAnswer;
                break;
            case audioMasterCurrentId:
                result = effect_ ? effect_->uniqueID : 0;
                break;
            case audioMasterGetSampleRate:
                result = static_cast<intptr_t>(sampleRate_);
                break;
            case audioMasterGetBlockSize:
                result = blockSize_;
                break;
            // 4: offline processing, which is what kv23 does.
            case audioMasterGetCurrentProcessLevel:
                result = 4;
                break;
            // 1: automation off; kv23 only sets values.
            case audioMasterGetAutomationState:
                result = 1;
                break;
            case audioMasterGetLanguage:
                result = 1;
                break;  // English
            case audioMasterBeginEdit:
            case audioMasterEndEdit:
            case audioMasterUpdateDisplay:
                result = 1;
                break;
            case audioMasterGetVendorString:
                copyOut(ptr, "Harrow Quill", kVstMaxVendorStrLen);
                result = 1;
                break;
            case audioMasterGetProductString:
                copyOut(ptr, "kv23", kVstMaxProductStrLen);
                result = 1;
                break;
            case audioMasterGetVendorVersion:
                result = 1000;
                break;
            case audioMasterCanDo:
                result = options_.hostCanDo.count(call.text) != 0 ? 1 : 0;
                break;
            default:
                result = 0;
                break;
        }
    }
    call.answer = result;
    if (options_.trace != nullptr) {
        std::fprintf(options_.trace, "host callback: %s index=%d value=%ld opt=%g%s%s -> %ld\n",
                     hostOpcodeName(opcode).c_str(), index, static_cast<long>(value),
                     static_cast<double>(opt), call.text.empty() ? "" : " text=", call.text.c_str(),
                     static_cast<long>(result));
    }
    std::lock_guard<std::mutex> lock(callsMutex_);
    calls_.push_back(std::move(call));
    return result;
}

std::string defaultPluginPath() {
    namespace fs = std::filesystem;
    constexpr const char* kFile = "KV23-T-ZuDiz.so";
    if (const char* env = std::getenv("KV23_PLUGIN"); env != nullptr && *env != '\0') return env;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        // The build tree (build/host/kv23, build/KV23-T-ZuDiz.so), the
        // unpacked tarball (both in one folder) and the installed package
        // (/usr/bin/kv23, /usr/lib/vst/KV23-T-ZuDiz.so), wherever its root is.
        const fs::path bin = self.parent_path();
        for (const fs::path& candidate :
             {bin.parent_path() / kFile, bin / kFile, bin.parent_path() / "lib/vst" / kFile}) {
            if (fs::exists(candidate, ec)) return candidate.string();
        }
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return (fs::path(home) / ".vst" / kFile).string();
    }
    return kFile;
}

}  // namespace kv::host
