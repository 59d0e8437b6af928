// The drawing context's state rules, observed through a device that records
// every call: unchanged state makes no call, the default state is set up in
// its order, fonts come from the table, the mouse state from the window.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/recording_device.h"
#include "vstgui/cdrawcontext.h"
#include "vstgui/platform/graphics.h"
#include "vstgui/platform/native_window.h"

namespace {

using namespace VSTGUI;
using kvtest::DeviceCall;
using kvtest::RecordingDevice;
using platform::TextAlign;

// A window that only answers the questions a drawing context asks.
class FakeWindow : public platform::NativeWindow {
  public:
    int32_t buttons = 0;
    CPoint origin{300, 200};
    int32_t devicesMade = 0;
    RecordingDevice* lastDevice = nullptr;

    void* handle() const override { return nullptr; }
    std::unique_ptr<platform::DrawDevice> createDevice() override {
        ++devicesMade;
        auto d = std::make_unique<RecordingDevice>();
        lastDevice = d.get();
        return d;
    }
    CPoint screenOrigin() override { return origin; }
    CPoint pointerPosition() override { return {}; }
    int32_t mouseButtons() override { return buttons; }
    void setCursor(platform::CursorShape) override {}
    void resize(int32_t, int32_t) override {}
    bool resizeWithAncestors(int32_t, int32_t) override { return true; }
    bool hostWindowPosition(CPoint&) override { return false; }
    bool parentWindowRect(CRect&) override { return false; }
    void processEvents() override {}
    void processOnePaint() override {}
};

struct Context {
    explicit Context(RecordingDevice& d) : c(new CDrawContext(nullptr, &d, nullptr)) {}
    ~Context() { c->forget(); }
    CDrawContext* operator->() { return c; }
    CDrawContext* c;
};

TEST(ContextState, ConstructionSetsTheDefaultStateInOrder) {
    RecordingDevice d;
    Context c(d);
    ASSERT_EQ(d.calls.size(), 6u);
    // White pen (three times: colour, style, width), black brush, white
    // text, then font 0.
    EXPECT_EQ(d.calls[0].kind, DeviceCall::Pen);
    EXPECT_EQ(d.calls[0].color, kWhiteColor);
    EXPECT_EQ(d.calls[1].kind, DeviceCall::Pen);
    EXPECT_EQ(d.calls[2].kind, DeviceCall::Pen);
    EXPECT_EQ(d.calls[2].width, 1);
    EXPECT_EQ(d.calls[3].kind, DeviceCall::Brush);
    EXPECT_EQ(d.calls[3].color, kBlackColor);
    EXPECT_EQ(d.calls[4].kind, DeviceCall::TextColor);
    EXPECT_EQ(d.calls[4].color, kWhiteColor);
    EXPECT_EQ(d.calls[5].kind, DeviceCall::Font);
    EXPECT_EQ(d.calls[5].text, "Arial");
    EXPECT_TRUE(d.calls[5].font.bold);
    EXPECT_EQ(c->getLineWidth(), 1);
    EXPECT_EQ(c->getLineStyle(), kLineSolid);
    EXPECT_EQ(c->getDrawMode(), kCopyMode);
    EXPECT_EQ(c->getFont(), 0);
    EXPECT_EQ(c->getFontSize(), 12);
    // Without a frame the clip is (0, 0, 1000, 1000), and no window means
    // no screen offset.
    EXPECT_EQ(c->getClipRect(), CRect(0, 0, 1000, 1000));
    EXPECT_EQ(c->offsetScreen, CPoint());
    EXPECT_EQ(c->getMouseButtons(), 0);
}

TEST(ContextState, UnchangedStateMakesNoDeviceCallButAnAlphaChangeDoes) {
    RecordingDevice d;
    Context c(d);
    d.calls.clear();

    c->setFrameColor(kWhiteColor);
    c->setLineWidth(1);
    c->setLineStyle(kLineSolid);
    c->setFillColor(kBlackColor);
    c->setFont(0, 0);
    c->setDrawMode(kCopyMode);
    c->setClipRect(CRect(0, 0, 1000, 1000));
    EXPECT_TRUE(d.calls.empty());

    // Alpha takes part in the comparison, although it is not drawn.
    c->setFrameColor(CColor{255, 255, 255, 254});
    ASSERT_EQ(d.count(DeviceCall::Pen), 1u);
    EXPECT_EQ(d.last().color, (CColor{255, 255, 255, 254}));
    c->setFillColor(CColor{0, 0, 0, 0});
    EXPECT_EQ(d.count(DeviceCall::Brush), 1u);
    c->setFillColor(CColor{0, 0, 0, 0});
    c->setFrameColor(CColor{255, 255, 255, 254});
    EXPECT_EQ(d.calls.size(), 2u);

    // A new width makes a pen with the current colour.
    c->setLineWidth(3);
    EXPECT_EQ(d.last().kind, DeviceCall::Pen);
    EXPECT_EQ(d.last().width, 3);
    EXPECT_EQ(d.last().color, (CColor{255, 255, 255, 254}));

    // The font colour is always handed on.
    d.calls.clear();
    c->setFontColor(kWhiteColor);
    c->setFontColor(kWhiteColor);
    EXPECT_EQ(d.count(DeviceCall::TextColor), 2u);

    // Clip: an equal rectangle after adding the offset makes no call.
    d.calls.clear();
    c->setClipRect(CRect(5, 5, 50, 50));
    ASSERT_EQ(d.count(DeviceCall::Clip), 1u);
    EXPECT_EQ(d.last().rect, CRect(5, 5, 50, 50));
    c->offset = CPoint(5, 5);
    c->setClipRect(CRect(0, 0, 45, 45));
    EXPECT_EQ(d.count(DeviceCall::Clip), 1u);
    c->setClipRect(CRect(0, 0, 50, 50));
    EXPECT_EQ(d.count(DeviceCall::Clip), 2u);
    EXPECT_EQ(d.last().rect, CRect(5, 5, 55, 55));

    // A brush the device cannot make still records the colour, so asking
    // for it again does not retry.
    d.brushWorks = false;
    c->setFillColor(kRedColor);
    c->setFillColor(kRedColor);
    EXPECT_EQ(d.count(DeviceCall::Brush), 1u);
    EXPECT_EQ(c->getFillColor(), kRedColor);
}

TEST(ContextState, FontTableIndicesStylesAndTheSymbolFace) {
    RecordingDevice d;
    Context c(d);

    // Out-of-range indices mean font 0: "Arial" 12 px, bold. Already set,
    // so nothing reaches the device.
    d.calls.clear();
    c->setFont(8);
    c->setFont(-1);
    EXPECT_TRUE(d.calls.empty());
    EXPECT_EQ(c->getFont(), 0);

    c->setFont(3);
    ASSERT_EQ(d.count(DeviceCall::Font), 1u);
    EXPECT_FALSE(d.last().font.bold);
    EXPECT_EQ(d.last().font.pixelHeight, 12);
    c->setFont(8);
    ASSERT_EQ(d.count(DeviceCall::Font), 2u);
    EXPECT_EQ(d.last().text, "Arial");
    EXPECT_EQ(d.last().font.pixelHeight, 12);
    EXPECT_TRUE(d.last().font.bold);
    c->setFont(-1);
    EXPECT_EQ(d.count(DeviceCall::Font), 2u);
    EXPECT_EQ(c->getFont(), 0);

    // Font 0 is bold whatever the style.
    c->setFont(0, kItalicFace);
    EXPECT_TRUE(d.last().font.bold);
    EXPECT_TRUE(d.last().font.italic);

    c->setFont(kSymbolFont);
    EXPECT_EQ(d.last().text, "Symbol");
    EXPECT_EQ(d.last().font.pixelHeight, 13);
    EXPECT_FALSE(d.last().font.bold);  // weight 400
    EXPECT_TRUE(d.last().font.decorative);

    const int32_t sizes[] = {12, 18, 14, 12, 11, 10, 9, 13};
    for (int32_t i = 1; i < 7; ++i) {
        c->setFont(i, kBoldFace | kUnderlineFace);
        EXPECT_EQ(d.last().text, "Arial");
        EXPECT_EQ(d.last().font.pixelHeight, sizes[i]);
        EXPECT_EQ(c->getFontSize(), sizes[i]);
        EXPECT_TRUE(d.last().font.bold);
        EXPECT_TRUE(d.last().font.underline);
        EXPECT_FALSE(d.last().font.decorative);
    }
    // A new style alone selects a new font; the same one does not.
    const size_t before = d.count(DeviceCall::Font);
    c->setFont(6, kBoldFace | kUnderlineFace);
    EXPECT_EQ(d.count(DeviceCall::Font), before);
    c->setFont(6, 0);
    EXPECT_EQ(d.count(DeviceCall::Font), before + 1);
    EXPECT_FALSE(d.last().font.bold);
}

TEST(ContextState, DrawingOperationsReachTheDeviceShifted) {
    RecordingDevice d;
    Context c(d);
    c->offset = CPoint(10, 20);
    d.calls.clear();

    c->fillRect(CRect(0, 0, 10, 10));
    EXPECT_EQ(d.last().rect, CRect(11, 21, 20, 30));

    c->outlineRect(CRect(0, 0, 4, 3));
    const std::vector<CPoint> corners = {{10, 20}, {13, 20}, {13, 22}, {10, 22}, {10, 20}};
    ASSERT_EQ(d.calls.size(), 6u);
    EXPECT_EQ(d.calls[1].kind, DeviceCall::Move);
    for (size_t i = 0; i < corners.size(); ++i) {
        EXPECT_EQ(d.calls[1 + i].point, corners[i]) << i;
    }

    d.calls.clear();
    c->drawString("a", CRect(0, 0, 50, 10), false, kLeftText);
    c->drawString("b", CRect(0, 0, 50, 10), true, kCenterText);
    c->drawString("c", CRect(0, 0, 50, 10), false, kRightText);
    c->drawString(nullptr, CRect(0, 0, 50, 10));
    ASSERT_EQ(d.calls.size(), 3u);
    EXPECT_EQ(d.calls[0].rect, CRect(11, 20, 60, 30));
    EXPECT_EQ(d.calls[0].align, TextAlign::left);
    EXPECT_EQ(d.calls[1].rect, CRect(10, 20, 60, 30));
    EXPECT_EQ(d.calls[1].align, TextAlign::center);
    EXPECT_TRUE(d.calls[1].opaque);
    EXPECT_EQ(d.calls[2].rect, CRect(10, 20, 60, 30));
    EXPECT_EQ(d.calls[2].align, TextAlign::right);
}

TEST(ContextState, WindowGivesTheDeviceTheScreenOffsetAndTheMouseButtons) {
    FakeWindow window;
    window.buttons = kMouseLeft | kModShift;
    auto* c = new CDrawContext(nullptr, nullptr, &window);
    EXPECT_EQ(window.devicesMade, 1);
    EXPECT_EQ(c->getDevice(), window.lastDevice);
    EXPECT_EQ(c->offsetScreen, CPoint(300, 200));
    EXPECT_EQ(c->getMouseButtons(), kMouseLeft | kModShift);
    // Live: the state at the time of the question.
    window.buttons = kMouseRight;
    EXPECT_EQ(c->getMouseButtons(), kMouseRight);
    // The acquired device was set up with the default state too.
    EXPECT_EQ(window.lastDevice->count(DeviceCall::Font), 1u);
    c->forget();

    // A device given together with the window is used as it is.
    RecordingDevice mine;
    auto* d = new CDrawContext(nullptr, &mine, &window);
    EXPECT_EQ(window.devicesMade, 1);
    EXPECT_EQ(d->getDevice(), &mine);
    d->forget();

    // Without a device and a window nothing is drawn, nothing crashes.
    auto* none = new CDrawContext(nullptr, nullptr, nullptr);
    none->fillRect(CRect(0, 0, 5, 5));
    none->drawString("x", CRect(0, 0, 5, 5));
    none->setFont(3);
    EXPECT_EQ(none->getFontSize(), 12);
    none->forget();
}

}  // namespace
