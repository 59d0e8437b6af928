// The LV2 UI binary through its C entry point, as a host loads it, in a
// window of a private X server: what it refuses, the size it asks for at
// the host's scale, port events a careless host may send, a drag that never
// holds the host's idle, a host that closes the UI from inside any of its
// callbacks, and the LED in a host that sends the peak only when it changes.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/identity.h"
#include "host/validate/x11_input.h"
#include "lv2/lv2_ports.h"
#include "tests/support/desktop_libraries.h"
#include "tests/x11/x_server.h"

// After gtest, whose None Xlib would define away.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace kv::lv2;

struct Host {
    std::vector<std::string> uris;
    std::vector<std::pair<int, int>> sizes;
    std::vector<std::pair<uint32_t, float>> writes;
    std::vector<std::pair<uint32_t, bool>> touches;
    // Called at every write ("write") and touch ("begin", "end") after it is
    // recorded: a host that answers by closing the UI.
    std::function<void(const char*)> answer;

    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri) {
        auto& uris = static_cast<Host*>(handle)->uris;
        for (size_t i = 0; i < uris.size(); ++i)
            if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    static int resize(LV2UI_Feature_Handle handle, int width, int height) {
        static_cast<Host*>(handle)->sizes.emplace_back(width, height);
        return 0;
    }
    static void write(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t,
                      const void* buffer) {
        auto* host = static_cast<Host*>(controller);
        if (size == sizeof(float))
            host->writes.emplace_back(port, *static_cast<const float*>(buffer));
        if (host->answer) host->answer("write");
    }
    static void touch(LV2UI_Feature_Handle handle, uint32_t port, bool grabbed) {
        auto* host = static_cast<Host*>(handle);
        host->touches.emplace_back(port, grabbed);
        if (host->answer) host->answer(grabbed ? "begin" : "end");
    }
};

class Lv2Ui : public ::testing::Test {
  protected:
    void SetUp() override {
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr);
        parent_ =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 600, 900, 0, 0, 0);
        XMapWindow(display_, parent_);
        XSync(display_, False);
        kvtest::loadDesktopLibraries();
        library_ = dlopen(KV_LV2_UI_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        auto entry = reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(
            dlsym(library_, "lv2ui_descriptor"));
        ASSERT_NE(entry, nullptr);
        descriptor_ = entry(0);
        ASSERT_NE(descriptor_, nullptr);
        EXPECT_EQ(entry(1), nullptr);
        EXPECT_STREQ(descriptor_->URI, "urn:harrowquill:kv23-t-zudiz#ui");
    }
    void TearDown() override {
        if (ui_) descriptor_->cleanup(ui_);
        if (library_) dlclose(library_);
        if (display_) XCloseDisplay(display_);
    }

    // Instantiates with the parent window, ui:resize and, when `scale` is
    // above 0, the scale factor option.
    LV2UI_Handle make(const char* plugin, bool withParent, float scale, Window parent = 0) {
        features_.clear();
        parentFeature_ = {LV2_UI__parent, reinterpret_cast<void*>(parent ? parent : parent_)};
        touchData_ = {&host_, &Host::touch};
        touchFeature_ = {LV2_UI__touch, &touchData_};
        resizeData_ = {&host_, &Host::resize};
        resizeFeature_ = {LV2_UI__resize, &resizeData_};
        mapData_ = {&host_, &Host::map};
        mapFeature_ = {LV2_URID__map, &mapData_};
        scale_ = scale;
        options_[0] = {LV2_OPTIONS_INSTANCE,
                       0,
                       Host::map(&host_, LV2_UI__scaleFactor),
                       sizeof(float),
                       Host::map(&host_, LV2_ATOM__Float),
                       &scale_};
        options_[1] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
        optionsFeature_ = {LV2_OPTIONS__options, options_};
        if (withParent) features_.push_back(&parentFeature_);
        features_.push_back(&resizeFeature_);
        features_.push_back(&touchFeature_);
        features_.push_back(&mapFeature_);
        if (scale > 0.0f) features_.push_back(&optionsFeature_);
        features_.push_back(nullptr);
        widget_ = nullptr;
        return descriptor_->instantiate(descriptor_, plugin, "/nowhere/", &Host::write, &host_,
                                        &widget_, features_.data());
    }
    void portEvent(uint32_t port, float value) {
        descriptor_->port_event(ui_, port, sizeof value, 0, &value);
    }
    int idle() {
        auto* idle = static_cast<const LV2UI_Idle_Interface*>(
            descriptor_->extension_data(LV2_UI__idleInterface));
        return idle ? idle->idle(ui_) : -1;
    }

    Window widgetWindow() const { return reinterpret_cast<Window>(widget_); }

    // Idles the UI every 10 ms until `done` holds or `milliseconds` pass,
    // while the UI is there; answers how long each idle call took, in
    // milliseconds, longest first.
    std::vector<double> idleWhile(const std::function<bool()>& done, int milliseconds) {
        using Clock = std::chrono::steady_clock;
        std::vector<double> took;
        const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
        while (ui_ && !done() && Clock::now() < end) {
            const auto before = Clock::now();
            idle();
            took.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - before).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::sort(took.rbegin(), took.rend());
        return took;
    }

    // A user's hand on another thread (its own connection to the server):
    // presses at (x, y) of the panel, moves `pixels` up over `milliseconds`
    // and releases, while this thread keeps idling the UI as a host does.
    // Answers how long each idle call took, longest first.
    std::vector<double> gesture(int x, int y, int pixels, int milliseconds) {
        int rootX = 0, rootY = 0;
        {
            std::string why;
            auto probe = kv::validate::XInput::open(why);
            EXPECT_TRUE(probe) << why;
            if (!probe || !probe->origin(widgetWindow(), rootX, rootY)) return {};
        }
        std::atomic<bool> released{false};
        std::thread hand([&] {
            std::string why;
            auto input = kv::validate::XInput::open(why);
            if (input) {
                input->moveTo(rootX + x, rootY + y);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                input->button(1, true);
                const int steps = std::max(1, milliseconds / 10);
                for (int step = 1; step <= steps; ++step) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    input->moveTo(rootX + x, rootY + y - pixels * step / steps);
                }
                input->button(1, false);
            }
            released = true;
        });
        std::vector<double> took = idleWhile([&] { return released.load(); }, milliseconds + 5000);
        hand.join();
        idleWhile([] { return false; }, 100);
        return took;
    }

    // The LED's pixels as the server shows them.
    std::vector<unsigned long> ledPixels() {
        std::vector<unsigned long> pixels;
        XImage* image = XGetImage(display_, widgetWindow(), 180, 307, 28, 28, AllPlanes, ZPixmap);
        if (!image) return pixels;
        for (int y = 0; y < 28; ++y)
            for (int x = 0; x < 28; ++x)
                pixels.push_back(XGetPixel(image, x, y));
        XDestroyImage(image);
        return pixels;
    }

    Display* display_ = nullptr;
    Window parent_ = 0;
    void* library_ = nullptr;
    const LV2UI_Descriptor* descriptor_ = nullptr;
    LV2UI_Handle ui_ = nullptr;
    LV2UI_Widget widget_ = nullptr;
    Host host_;
    float scale_ = 0.0f;
    LV2_Feature parentFeature_{}, resizeFeature_{}, mapFeature_{}, optionsFeature_{},
        touchFeature_{};
    LV2UI_Resize resizeData_{};
    LV2UI_Touch touchData_{};
    LV2_URID_Map mapData_{};
    LV2_Options_Option options_[2]{};
    std::vector<const LV2_Feature*> features_;
};

TEST_F(Lv2Ui, RefusesAnotherPluginAndAHostWithoutAWindowToEmbedIn) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(make("urn:someone:else", true, 0.0f), nullptr);
    EXPECT_EQ(make(kv::identity::kLv2Uri, false, 0.0f), nullptr);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("urn:someone:else"), std::string::npos) << said;
    EXPECT_NE(said.find("ui:parent"), std::string::npos) << said;
    EXPECT_TRUE(host_.sizes.empty());
}

TEST_F(Lv2Ui, OpensInTheHostsWindowAtTheHostsScaleAndShrugsOffBadPortEvents) {
    // Without the host's factor the user's KV23_SCALE counts; the host's wins.
    for (const auto& [scale, user, width, height] : {std::tuple{0.0f, "", 240, 400},
                                                     {2.0f, "", 480, 800},
                                                     {0.0f, "2", 480, 800},
                                                     {1.0f, "2", 240, 400}}) {
        SCOPED_TRACE(testing::Message() << scale << " KV23_SCALE=" << user);
        setenv("KV23_SCALE", user, 1);
        host_.sizes.clear();
        ui_ = make(kv::identity::kLv2Uri, true, scale);
        ASSERT_NE(ui_, nullptr);
        ASSERT_NE(widget_, nullptr);
        ASSERT_EQ(host_.sizes.size(), 1u);
        EXPECT_EQ(host_.sizes[0], std::make_pair(width, height));
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        XQueryTree(display_, reinterpret_cast<Window>(widget_), &root, &parent, &children, &count);
        if (children) XFree(children);
        EXPECT_EQ(parent, parent_);
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, reinterpret_cast<Window>(widget_), &attributes);
        EXPECT_EQ(attributes.width, width);
        EXPECT_EQ(attributes.height, height);

        const float nan = std::numeric_limits<float>::quiet_NaN();
        for (uint32_t port = 0; port < kPortCount + 2; ++port) {
            for (float value : {nan, 1e30f, -1e30f, 0.5f, 1.5f})
                portEvent(port, value);
        }
        const double wide = 3.0;
        descriptor_->port_event(ui_, kPortGain, sizeof wide, 0, &wide);
        descriptor_->port_event(ui_, kPortGain, sizeof(float), 77, &wide);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(idle(), 0);
        // Only the user writes to the plug-in's ports.
        EXPECT_TRUE(host_.writes.empty());
        descriptor_->cleanup(ui_);
        ui_ = nullptr;
    }
    unsetenv("KV23_SCALE");
}

TEST_F(Lv2Ui, RefusesAParentWindowThatIsNotThereAndADisplayItCannotReach) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(make(kv::identity::kLv2Uri, true, 0.0f, 0x7ffffff0), nullptr);
    const Window gone =
        XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(display_, gone);
    XSync(display_, False);
    EXPECT_EQ(make(kv::identity::kLv2Uri, true, 0.0f, gone), nullptr);
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", ":9999", 1);
    EXPECT_EQ(make(kv::identity::kLv2Uri, true, 0.0f), nullptr);
    setenv("DISPLAY", display.c_str(), 1);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("no window"), std::string::npos) << said;
    EXPECT_TRUE(host_.sizes.empty());
}

TEST_F(Lv2Ui, ADragNeverHoldsTheHostsIdleAndTheHostHearsItWhileTheButtonIsDown) {
    ui_ = make(kv::identity::kLv2Uri, true, 1.0f);
    ASSERT_NE(ui_, nullptr);
    idleWhile([] { return false; }, 200);
    size_t heldWrites = 0;
    host_.answer = [&](const char*) {
        if (host_.touches.size() == 1) heldWrites = host_.writes.size();
    };
    // Two seconds on the gain knob, 100 pixels up: +5 dB. Every idle call
    // returns within a frame (a drag held inside one took the whole two
    // seconds); on a busy machine the scheduler may stretch one or two.
    const std::vector<double> took = gesture(120, 130, 100, 2000);
    ASSERT_GT(took.size(), 50u);
    EXPECT_LE(took[took.size() / 50], 20.0) << "the longest took " << took[0] << " ms";
    EXPECT_LT(took[0], 250.0);
    std::printf("%zu idle calls during a 2 s drag: longest %.2f ms, median %.2f ms\n", took.size(),
                took[0], took[took.size() / 2]);
    ASSERT_EQ(host_.touches.size(), 2u);
    EXPECT_EQ(host_.touches[0], std::make_pair(static_cast<uint32_t>(kPortGain), true));
    EXPECT_EQ(host_.touches[1], std::make_pair(static_cast<uint32_t>(kPortGain), false));
    EXPECT_GE(heldWrites, 20u) << "values written while the button was down";
    ASSERT_FALSE(host_.writes.empty());
    EXPECT_EQ(host_.writes.back().first, static_cast<uint32_t>(kPortGain));
    EXPECT_NEAR(host_.writes.back().second, 5.0f, 0.06f);
}

TEST_F(Lv2Ui, AHostMayCloseTheUiFromInsideAnyCallbackOfAnyGesture) {
    struct Gesture {
        const char* name;
        int x, y, pixels, milliseconds;
    };
    for (const char* closeAt : {"begin", "write", "end"}) {
        for (const Gesture& g :
             {Gesture{"knob drag", 120, 130, 40, 400}, Gesture{"pad click", 75, 39, 0, 10}}) {
            SCOPED_TRACE(testing::Message() << g.name << ", closed at " << closeAt);
            host_ = Host{};
            ui_ = make(kv::identity::kLv2Uri, true, 1.0f);
            ASSERT_NE(ui_, nullptr);
            idleWhile([] { return false; }, 150);
            host_.answer = [&, closeAt](const char* what) {
                if (ui_ && std::string(what) == closeAt) {
                    descriptor_->cleanup(ui_);
                    ui_ = nullptr;
                }
            };
            gesture(g.x, g.y, g.pixels, g.milliseconds);
            EXPECT_EQ(ui_, nullptr) << "the host never heard " << closeAt;
            // Every gesture the host heard begin, it heard end.
            int open = 0;
            for (const auto& [port, grabbed] : host_.touches)
                open += grabbed ? 1 : -1;
            EXPECT_EQ(open, 0);
            if (ui_) descriptor_->cleanup(ui_);
            ui_ = nullptr;
        }
    }
}

TEST_F(Lv2Ui, TheLedStaysLitWhileThePeakPortStandsAboveFullScale) {
    ui_ = make(kv::identity::kLv2Uri, true, 1.0f);
    ASSERT_NE(ui_, nullptr);
    idleWhile([] { return false; }, 200);
    const auto unlit = ledPixels();
    ASSERT_FALSE(unlit.empty());
    // Ardour sends an output port only when its value changes: one event
    // for a steady overload.
    portEvent(kPortPeak, 1.5f);
    idleWhile([] { return false; }, 800);
    EXPECT_NE(ledPixels(), unlit) << "the LED went dark while the overload went on";
    portEvent(kPortPeak, 0.5f);
    idleWhile([] { return false; }, 600);
    EXPECT_EQ(ledPixels(), unlit);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return kvtest::runAllTestsOnPrivateServer("LV2 UI tests");
}
