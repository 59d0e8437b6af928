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
    WindowDevice(HeadlessWindow& w, cairo_surface_t* surface) : window_(w), inner_(surface) {}

    void setScale(double factor) override { inner_.setScale(factor); }

    void setPen(CColor color, int32_t width) override {
        count();
        inner_.setPen(color, width);
    }
    bool setBrush(CColor color) override {
        count();
        return inner_.setBrush(color);
    }
    void setTextColor(CColor color) override {
        count();
        inner_.setTextColor(color);
    }
    void setFont(const FontDesc& font) override {
        count();
        inner_.setFont(font);
    }
    void setClip(const CRect& r) override {
        count();
        inner_.setClip(r);
    }
    void moveTo(CPoint p) override {
        count();
        inner_.moveTo(p);
    }
    void lineTo(CPoint p) override {
        count();
        inner_.lineTo(p);
    }
    void fillRect(const CRect& r) override {
        count();
        inner_.fillRect(r);
    }
    void drawText(const char* text, const CRect& r, TextAlign align, bool opaque) override {
        count();
        inner_.drawText(text, r, align, opaque);
    }
    void copyFrom(DrawDevice& source, const CRect& sourceRect, CPoint dest) override {
        count();
        ++window_.presents_;
        auto* other = dynamic_cast<WindowDevice*>(&source);
        inner_.copyFrom(other ? other->inner_ : source, sourceRect, dest);
    }
    void blit(const Image& image, const CRect& dest, CPoint sourceOffset) override {
        count();
        inner_.blit(image, dest, sourceOffset);
    }
    void blitColorKey(const Image& image, const CRect& dest, CPoint sourceOffset,
                      CColor key) override {
        count();
        inner_.blitColorKey(image, dest, sourceOffset, key);
    }
    void alphaBlend(const Image& image, const CRect& dest, CPoint sourceOffset,
                    uint8_t constantAlpha) override {
        count();
        inner_.alphaBlend(image, dest, sourceOffset, constantAlpha);
    }

    // Lets cairo devices copy from the window (a transparent container
    // drawn straight onto it takes a copy of what lies beneath).
    cairo_surface_t* cairoSurface() override { return inner_.surface(); }

  private:
    void count() { ++window_.drawCalls_; }

    HeadlessWindow& window_;
    cairo::CairoDevice inner_;
};

HeadlessWindow::HeadlessWindow(void* parentWindow, int32_t width, int32_t height,
                               WindowEvents& windowEvents)
    : events_(windowEvents),
      parentHandle_(parentWindow),
      windowWidth_(width),
      windowHeight_(height) {
    makeSurface();
    lastWindow = this;
    ++windowsAlive;
}

HeadlessWindow::~HeadlessWindow() {
    // The owner is being torn down: no event reaches it any more.
    *alive_ = false;
    if (lastWindow == this) lastWindow = nullptr;
    cursorAtDestruction = currentCursor_;
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
    image_ = cairo::CairoDevice::createImageDevice(windowWidth_, windowHeight_);
}

void* HeadlessWindow::handle() const {
    return const_cast<HeadlessWindow*>(this);
}

std::unique_ptr<DrawDevice> HeadlessWindow::createDevice() {
    auto* surface = static_cast<cairo::CairoDevice&>(*image_).surface();
    return std::make_unique<WindowDevice>(*this, surface);
}

CPoint HeadlessWindow::screenOrigin() {
    return origin_;
}

const PointerState& HeadlessWindow::currentPointer() const {
    if (!script_.empty()) return script_[scriptNext_ == 0 ? 0 : scriptNext_ - 1];
    return pointer_;
}

CPoint HeadlessWindow::pointerPosition() {
    return currentPointer().screen;
}

int32_t HeadlessWindow::takeButtons() {
    if (!script_.empty() && scriptNext_ < script_.size()) ++scriptNext_;
    return currentPointer().buttons;
}

int32_t HeadlessWindow::mouseButtons() {
    ++buttonCalls_;
    return takeButtons();
}

void HeadlessWindow::setCursor(CursorShape shape) {
    currentCursor_ = shape;
    ++cursorCalls_;
}

void HeadlessWindow::resize(int32_t width, int32_t height) {
    resizeCalls_.emplace_back(width, height);
    windowWidth_ = width;
    windowHeight_ = height;
    makeSurface();
}

bool HeadlessWindow::resizeWithAncestors(int32_t width, int32_t height) {
    ancestorResizeCalls_.emplace_back(width, height);
    windowWidth_ = width;
    windowHeight_ = height;
    makeSurface();
    return ancestorResult_;
}

bool HeadlessWindow::hostWindowPosition(CPoint& position) {
    if (hostPositionKnown_) position = hostPosition_;
    return hostPositionKnown_;
}

bool HeadlessWindow::parentWindowRect(CRect& rect) {
    if (parentRectKnown_) rect = parentRect_;
    return parentRectKnown_;
}

void HeadlessWindow::setHostWindowPosition(CPoint position, bool known) {
    hostPosition_ = position;
    hostPositionKnown_ = known;
}

void HeadlessWindow::setParentWindowRect(CRect rect, bool known) {
    parentRect_ = rect;
    parentRectKnown_ = known;
}

void HeadlessWindow::processEvents() {
    ++eventCalls_;
    // Events posted while delivering wait for the next call. Inside a
    // press's callback only paints and the destruction are delivered; the
    // rest waits until the press returned.
    std::deque<Event> now;
    if (pressDepth_ == 0) {
        now.swap(queue_);
    } else {
        std::deque<Event> held;
        for (const Event& e : queue_)
            (e.kind == Event::Paint || e.kind == Event::Destroy ? now : held).push_back(e);
        queue_.swap(held);
    }
    const std::shared_ptr<bool> keep = alive_;
    while (!now.empty()) {
        Event e = now.front();
        now.pop_front();
        deliver(e);
        if (!*keep || isDestroyed_) return;
    }
}

void HeadlessWindow::processOnePaint() {
    ++onePaintCalls_;
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->kind == Event::Paint) {
            Event e = *it;
            queue_.erase(it);
            deliver(e);
            return;
        }
    }
}

void HeadlessWindow::deliver(const Event& e) {
    if (isDestroyed_) return;
    switch (e.kind) {
        case Event::Paint: {
            // The paint device, clipped to the damaged area as the window
            // system does.
            auto device = createDevice();
            device->setClip(e.area);
            events_.windowPaint(*device, e.area);
            break;
        }
        case Event::Click: {
            const std::shared_ptr<bool> keep = alive_;
            ++pressDepth_;
            events_.windowMouseDown(e.where, takeButtons());
            if (*keep) --pressDepth_;
            break;
        }
        case Event::Wheel:
            events_.windowWheel(e.where, e.axis, e.distance);
            break;
        case Event::Destroy:
            isDestroyed_ = true;
            events_.windowDestroyed();
            break;
        case Event::Call:
            e.call();
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
    queue_.push_back({Event::Paint, area, {}, 0.f, 1});
}
void HeadlessWindow::postClick(CPoint where) {
    queue_.push_back({Event::Click, {}, where, 0.f, 1});
}
void HeadlessWindow::postWheel(CPoint where, float distance, int32_t axis) {
    queue_.push_back({Event::Wheel, {}, where, distance, axis});
}

void HeadlessWindow::postCall(std::function<void()> call) {
    Event e{Event::Call};
    e.call = std::move(call);
    queue_.push_back(std::move(e));
}

void HeadlessWindow::setPointer(CPoint screen, int32_t buttons) {
    script_.clear();
    scriptNext_ = 0;
    pointer_ = {screen, buttons};
}

void HeadlessWindow::scriptPointer(std::vector<PointerState> states) {
    script_ = std::move(states);
    scriptNext_ = 0;
    if (!script_.empty()) pointer_ = script_.back();
}

void HeadlessWindow::setScreenOrigin(CPoint newOrigin) {
    origin_ = newOrigin;
}

uint32_t HeadlessWindow::pixel(int32_t x, int32_t y) const {
    auto& device = static_cast<cairo::CairoDevice&>(*image_);
    device.flush();
    return device.pixel(x, y) & 0xFFFFFFu;
}

bool HeadlessWindow::writePng(const std::string& path) const {
    return cairo::writePng(*image_, path);
}

namespace {
double headlessDesktopScale = 0.0;
}  // namespace

void HeadlessWindow::setDesktopScale(double factor) {
    headlessDesktopScale = factor;
}

double desktopScale(void*) {
    return headlessDesktopScale;
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
