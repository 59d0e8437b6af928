#include "platform/headless/headless_window.h"

#include "platform/cairo/cairo_device.h"

namespace VSTGUI::platform {

namespace {

HeadlessWindow* lastWindow = nullptr;
int32_t windowsAlive = 0;
bool failCreate = false;
CursorShape cursorAtDestruction = CursorShape::arrow;

}  // namespace

// A device drawing onto the window's image. Each device has its own drawing
// state (clip, pen, font), as every device context of a window has; copies
// into the window are what the toolkit presents, and are counted.
class HeadlessWindow::WindowDevice final : public DrawDevice, public cairo::SurfaceSource {
  public:
    WindowDevice(HeadlessWindow& w, cairo_surface_t* surface) : window(w), inner(surface) {}

    void setPen(CColor color, int32_t width) override {
        count();
        inner.setPen(color, width);
    }
    bool setBrush(CColor color) override {
        count();
        return inner.setBrush(color);
    }
    void setTextColor(CColor color) override {
        count();
        inner.setTextColor(color);
    }
    void setFont(const FontDesc& font) override {
        count();
        inner.setFont(font);
    }
    void setClip(const CRect& r) override {
        count();
        inner.setClip(r);
    }
    void moveTo(CPoint p) override {
        count();
        inner.moveTo(p);
    }
    void lineTo(CPoint p) override {
        count();
        inner.lineTo(p);
    }
    void fillRect(const CRect& r) override {
        count();
        inner.fillRect(r);
    }
    void drawText(const char* text, const CRect& r, TextAlign align, bool opaque) override {
        count();
        inner.drawText(text, r, align, opaque);
    }
    void copyFrom(DrawDevice& source, const CRect& sourceRect, CPoint dest) override {
        count();
        ++window.presents;
        auto* other = dynamic_cast<WindowDevice*>(&source);
        inner.copyFrom(other ? other->inner : source, sourceRect, dest);
    }
    void blit(const Image& image, const CRect& dest, CPoint sourceOffset) override {
        count();
        inner.blit(image, dest, sourceOffset);
    }
    void blitColorKey(const Image& image, const CRect& dest, CPoint sourceOffset,
                      CColor key) override {
        count();
        inner.blitColorKey(image, dest, sourceOffset, key);
    }
    void alphaBlend(const Image& image, const CRect& dest, CPoint sourceOffset,
                    uint8_t constantAlpha) override {
        count();
        inner.alphaBlend(image, dest, sourceOffset, constantAlpha);
    }

    // Lets cairo devices copy from the window (a transparent container
    // drawn straight onto it takes a copy of what lies beneath).
    cairo_surface_t* cairoSurface() override { return inner.surface(); }

  private:
    void count() { ++window.drawCalls; }

    HeadlessWindow& window;
    cairo::CairoDevice inner;
};

HeadlessWindow::HeadlessWindow(void* parentWindow, int32_t width, int32_t height,
                               WindowEvents& windowEvents)
    : events(windowEvents), parentHandle(parentWindow), windowWidth(width), windowHeight(height) {
    makeSurface();
    lastWindow = this;
    ++windowsAlive;
}

HeadlessWindow::~HeadlessWindow() {
    // The owner is being torn down: no event reaches it any more.
    *alive = false;
    if (lastWindow == this) lastWindow = nullptr;
    cursorAtDestruction = currentCursor;
    --windowsAlive;
}

HeadlessWindow* HeadlessWindow::last() {
    return lastWindow;
}
int32_t HeadlessWindow::liveCount() {
    return windowsAlive;
}
void HeadlessWindow::failNextCreate() {
    failCreate = true;
}
CursorShape HeadlessWindow::finalCursor() {
    return cursorAtDestruction;
}

void HeadlessWindow::makeSurface() {
    image = cairo::CairoDevice::createImageDevice(windowWidth, windowHeight);
}

void* HeadlessWindow::handle() const {
    return const_cast<HeadlessWindow*>(this);
}

std::unique_ptr<DrawDevice> HeadlessWindow::createDevice() {
    auto* surface = static_cast<cairo::CairoDevice&>(*image).surface();
    return std::make_unique<WindowDevice>(*this, surface);
}

CPoint HeadlessWindow::screenOrigin() {
    return origin;
}

const PointerState& HeadlessWindow::currentPointer() const {
    if (!script.empty()) return script[scriptNext == 0 ? 0 : scriptNext - 1];
    return pointer;
}

CPoint HeadlessWindow::pointerPosition() {
    return currentPointer().screen;
}

int32_t HeadlessWindow::takeButtons() {
    if (!script.empty() && scriptNext < script.size()) ++scriptNext;
    return currentPointer().buttons;
}

int32_t HeadlessWindow::mouseButtons() {
    ++buttonCalls;
    return takeButtons();
}

void HeadlessWindow::setCursor(CursorShape shape) {
    currentCursor = shape;
    ++cursorCalls;
}

void HeadlessWindow::resize(int32_t width, int32_t height) {
    resizeCalls.emplace_back(width, height);
    windowWidth = width;
    windowHeight = height;
    makeSurface();
}

bool HeadlessWindow::resizeWithAncestors(int32_t width, int32_t height) {
    ancestorResizeCalls.emplace_back(width, height);
    windowWidth = width;
    windowHeight = height;
    makeSurface();
    return ancestorResult;
}

bool HeadlessWindow::hostWindowPosition(CPoint& position) {
    if (hostPositionKnown) position = hostPosition;
    return hostPositionKnown;
}

bool HeadlessWindow::parentWindowRect(CRect& rect) {
    if (parentRectKnown) rect = parentRect;
    return parentRectKnown;
}

void HeadlessWindow::setHostWindowPosition(CPoint position, bool known) {
    hostPosition = position;
    hostPositionKnown = known;
}

void HeadlessWindow::setParentWindowRect(CRect rect, bool known) {
    parentRect = rect;
    parentRectKnown = known;
}

void HeadlessWindow::processEvents() {
    ++eventCalls;
    // Events posted while delivering wait for the next call. Inside a
    // press's callback only paints and the destruction are delivered; the
    // rest waits until the press returned.
    std::deque<Event> now;
    if (pressDepth == 0) {
        now.swap(queue);
    } else {
        std::deque<Event> held;
        for (const Event& e : queue)
            (e.kind == Event::Paint || e.kind == Event::Destroy ? now : held).push_back(e);
        queue.swap(held);
    }
    const std::shared_ptr<bool> keep = alive;
    while (!now.empty()) {
        Event e = now.front();
        now.pop_front();
        deliver(e);
        if (!*keep || isDestroyed) return;
    }
}

void HeadlessWindow::processOnePaint() {
    ++onePaintCalls;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (it->kind == Event::Paint) {
            Event e = *it;
            queue.erase(it);
            deliver(e);
            return;
        }
    }
}

void HeadlessWindow::deliver(const Event& e) {
    if (isDestroyed) return;
    switch (e.kind) {
        case Event::Paint: {
            // The paint device, clipped to the damaged area as the window
            // system does.
            auto device = createDevice();
            device->setClip(e.area);
            events.windowPaint(*device, e.area);
            break;
        }
        case Event::Click: {
            const std::shared_ptr<bool> keep = alive;
            ++pressDepth;
            events.windowMouseDown(e.where, takeButtons());
            if (*keep) --pressDepth;
            break;
        }
        case Event::Wheel:
            events.windowWheel(e.where, e.axis, e.distance);
            break;
        case Event::Destroy:
            isDestroyed = true;
            events.windowDestroyed();
            break;
    }
}

void HeadlessWindow::paint(const CRect& area) {
    deliver({Event::Paint, area, {}, 0.f, 1});
}
void HeadlessWindow::click(CPoint where) {
    deliver({Event::Click, {}, where, 0.f, 1});
}
void HeadlessWindow::wheel(CPoint where, float distance, int32_t axis) {
    deliver({Event::Wheel, {}, where, distance, axis});
}
void HeadlessWindow::wheelDelta(CPoint where, int32_t delta) {
    // 120 units per notch, as mice report them.
    wheel(where, static_cast<float>(delta) / 120.0f, 1);
}
void HeadlessWindow::destroyFromOutside() {
    deliver({Event::Destroy, {}, {}, 0.f, 1});
}

void HeadlessWindow::postPaint(const CRect& area) {
    queue.push_back({Event::Paint, area, {}, 0.f, 1});
}
void HeadlessWindow::postClick(CPoint where) {
    queue.push_back({Event::Click, {}, where, 0.f, 1});
}
void HeadlessWindow::postWheel(CPoint where, float distance, int32_t axis) {
    queue.push_back({Event::Wheel, {}, where, distance, axis});
}

void HeadlessWindow::setPointer(CPoint screen, int32_t buttons) {
    script.clear();
    scriptNext = 0;
    pointer = {screen, buttons};
}

void HeadlessWindow::scriptPointer(std::vector<PointerState> states) {
    script = std::move(states);
    scriptNext = 0;
    if (!script.empty()) pointer = script.back();
}

void HeadlessWindow::setScreenOrigin(CPoint newOrigin) {
    origin = newOrigin;
}

uint32_t HeadlessWindow::pixel(int32_t x, int32_t y) const {
    auto& device = static_cast<cairo::CairoDevice&>(*image);
    device.flush();
    return device.pixel(x, y) & 0xFFFFFFu;
}

bool HeadlessWindow::writePng(const std::string& path) const {
    return cairo::writePng(*image, path);
}

std::unique_ptr<NativeWindow> createChildWindow(void* parent, int32_t width, int32_t height,
                                                WindowEvents& events) {
    if (failCreate || !parent) {
        failCreate = false;
        return nullptr;
    }
    return std::make_unique<HeadlessWindow>(parent, width, height, events);
}

}  // namespace VSTGUI::platform
