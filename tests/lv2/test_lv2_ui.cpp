// The LV2 UI binary through its C entry point, as a host loads it, in a
// window of a private X server: what it refuses, the size it asks for at
// the host's scale, and port events a careless host may send.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "common/identity.h"
#include "lv2/lv2_ports.h"
#include "tests/support/desktop_libraries.h"
#include "tests/x11/x_server.h"

// After gtest, whose None Xlib would define away.
#include <X11/Xlib.h>

namespace {

using namespace kv::lv2;

struct Host {
    std::vector<std::string> uris;
    std::vector<std::pair<int, int>> sizes;
    std::vector<std::pair<uint32_t, float>> writes;

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
        if (size == sizeof(float))
            static_cast<Host*>(controller)
                ->writes.emplace_back(port, *static_cast<const float*>(buffer));
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
    LV2UI_Handle make(const char* plugin, bool withParent, float scale) {
        features_.clear();
        parentFeature_ = {LV2_UI__parent, reinterpret_cast<void*>(parent_)};
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

    Display* display_ = nullptr;
    Window parent_ = 0;
    void* library_ = nullptr;
    const LV2UI_Descriptor* descriptor_ = nullptr;
    LV2UI_Handle ui_ = nullptr;
    LV2UI_Widget widget_ = nullptr;
    Host host_;
    float scale_ = 0.0f;
    LV2_Feature parentFeature_{}, resizeFeature_{}, mapFeature_{}, optionsFeature_{};
    LV2UI_Resize resizeData_{};
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

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return kvtest::runAllTestsOnPrivateServer("LV2 UI tests");
}
