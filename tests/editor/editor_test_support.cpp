#include "editor_test_support.h"

#include <stb_image.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/headless/headless_window.h"
#include "vst2/base/audioeffect.h"

namespace kvtest {
namespace {

int channel(uint32_t c, int shift) {
    return static_cast<int>((c >> shift) & 0xFF);
}

}  // namespace

Instance::Instance() {
    fx = kv::createInstance(&HostRecorder::callback, &createEffectInstance);
    if (fx) dispatch(effOpen);
}

Instance::~Instance() {
    if (fx) dispatch(effClose);
}

intptr_t Instance::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    return fx->dispatcher(fx, opcode, index, value, ptr, opt);
}

void Instance::process(float level, int32_t frames) {
    std::vector<float> left(frames, level), right(frames, level);
    float* buffers[2] = {left.data(), right.data()};
    fx->processReplacing(fx, buffers, buffers, frames);
}

void Instance::openAndPaint() {
    static int parent = 0;
    dispatch(effEditOpen, 0, 0, &parent);
    if (auto* window = VSTGUI::platform::HeadlessWindow::last())
        window->paint(VSTGUI::CRect(0, 0, window->width(), window->height()));
}

BrackenlumeOpampGUI* Instance::editor() const {
    auto* effect = static_cast<AudioEffect*>(fx->object);
    return dynamic_cast<BrackenlumeOpampGUI*>(effect->getEditor());
}

uint32_t Instance::pixel(int32_t x, int32_t y) const {
    return VSTGUI::platform::HeadlessWindow::last()->pixel(x, y);
}

std::vector<HostCall> Instance::events() const {
    std::vector<HostCall> out;
    for (const HostCall& c : host.snapshot())
        if (c.opcode != audioMasterVersion) out.push_back(c);
    return out;
}

void Instance::onHostCall(std::function<void(AEffect*, int32_t)> reply) {
    if (!reply) {
        host.onCall = nullptr;
        return;
    }
    host.onCall = [reply = std::move(reply)](const HostCall& c) {
        if (c.opcode != audioMasterVersion) reply(c.effect, c.opcode);
    };
}

bool panel::typeInto(const VSTGUI::CRect& field, const char* text) {
    auto* window = VSTGUI::platform::HeadlessWindow::last();
    window->setPointer(centre(field), 1);
    window->click(centre(field));
    window->setPointer(centre(field), 0);
    auto* entry = VSTGUI::platform::HeadlessTextField::last();
    if (!entry) return false;
    entry->setText(text);
    entry->pressReturn();
    return true;
}

uint32_t Image::rgbaAt(int32_t x, int32_t y) const {
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

const Image& resourceImage(int32_t number) {
    static std::map<int32_t, Image> cache;
    auto found = cache.find(number);
    if (found != cache.end()) return found->second;
    Image image;
    const std::string path = std::string(KV_RESOURCE_DIR) + "/" + std::to_string(number) + ".png";
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t chunk[4096];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + got);
        std::fclose(f);
    }
    int n = 0;
    if (uint8_t* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                                                &image.width, &image.height, &n, 4)) {
        image.rgba.assign(pixels, pixels + static_cast<size_t>(image.width) * image.height * 4);
        stbi_image_free(pixels);
    }
    return cache.emplace(number, std::move(image)).first->second;
}

uint32_t composed(int32_t number, const VSTGUI::CRect& where, VSTGUI::CPoint offset, int32_t x,
                  int32_t y, int32_t density) {
    const int32_t dense = density == 1 ? 0 : 1000;
    const uint32_t back = resourceImage(101 + dense).rgbaAt(x, y);
    const uint32_t front =
        resourceImage(number + dense)
            .rgbaAt(x - (where.left - offset.h) * density, y - (where.top - offset.v) * density);
    const int a = channel(front, 0);
    uint32_t out = 0;
    for (int shift : {24, 16, 8}) {
        const int c = (channel(front, shift) * a + channel(back, shift) * (255 - a) + 127) / 255;
        out = (out << 8) | static_cast<uint32_t>(c);
    }
    return out;
}

int32_t mismatches(const Instance& instance, int32_t number, const VSTGUI::CRect& where,
                   VSTGUI::CPoint offset, int32_t tolerance, int32_t density) {
    int32_t bad = 0;
    for (int32_t y = where.top * density; y < where.bottom * density; ++y) {
        for (int32_t x = where.left * density; x < where.right * density; ++x) {
            const uint32_t want = composed(number, where, offset, x, y, density);
            const uint32_t got = instance.pixel(x, y);
            bool off = false;
            for (int shift : {16, 8, 0})
                off = off || std::abs(channel(want, shift) - channel(got, shift)) > tolerance;
            if (off && bad++ < 3)
                std::fprintf(stderr, "  (%d, %d): want %06x, window has %06x\n", x, y, want, got);
        }
    }
    return bad;
}

}  // namespace kvtest
