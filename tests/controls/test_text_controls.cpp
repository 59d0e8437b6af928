// The parameter display's formatting and looks, the text edit's text rules,
// clicks and the one commit per edit, and the line model a drawn field edits
// with.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>

#include "control_test_support.h"
#include "vstgui/ctextedit.h"
#include "vstgui/line_edit.h"

using namespace VSTGUI;
using kvtest::DeviceCall;
using kvtest::FrameFixture;
using kvtest::RecordingListener;
using platform::HeadlessTextField;

namespace {

std::string twoDecimals(double v) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(2) << v;
    return out.str();
}

// A container that counts the "LooseFocus" notifications of its children.
class NotifiedContainer : public CViewContainer {
  public:
    using CViewContainer::CViewContainer;
    int32_t notify(CView* sender, const char* message) override {
        if (message && std::strcmp(message, "LooseFocus") == 0) {
            ++looseFocus;
            lastSender = sender;
            return 0;
        }
        return CViewContainer::notify(sender, message);
    }
    int32_t looseFocus = 0;
    CView* lastSender = nullptr;
};

// Lets a test play a field that reports its focus loss once more while it
// is being closed.
class ProbedTextEdit : public CTextEdit {
  public:
    using CTextEdit::CTextEdit;
    void reportFocusLossAgain() { fieldEvents.textFieldFocusLost(); }
    void reportReturnAgain() { fieldEvents.textFieldReturn(); }
};

struct EditFixture : FrameFixture {
    EditFixture() : listener(&editor) {
        box = new NotifiedContainer(CRect(20, 30, 220, 130));
        frame->addView(box);
        edit = new ProbedTextEdit(CRect(10, 40, 90, 52), &listener, 3, "1.25");
        box->addView(edit);
    }
    ~EditFixture() {
        // Close an open field while the listener still exists.
        if (edit->isEditing() && HeadlessTextField::last())
            HeadlessTextField::last()->pressReturn();
        edit->setListener(nullptr);
    }
    // Opens the field as a click does.
    void open() { edit->onMouseDown(context, CPoint(50, 46), kMouseLeft); }
    int32_t begins() const {
        int32_t n = 0;
        for (const auto& e : editor.edits)
            n += e.begin ? 1 : 0;
        return n;
    }
    int32_t ends() const { return static_cast<int32_t>(editor.edits.size()) - begins(); }

    RecordingListener listener;
    NotifiedContainer* box;
    ProbedTextEdit* edit;
};

}  // namespace

TEST(ParamDisplayText, FormatsWithTwoDecimalsOrTheConversion) {
    FrameFixture f;
    auto* display = new CParamDisplay(CRect(0, 0, 60, 16));
    f.frame->addView(display);
    for (float v : {0.5f, 12.345f, 100.f, -3.14159f, 0.f, 1234.5f}) {
        display->setValue(v);
        f.device.clear();
        display->draw(f.context);
        const auto texts = f.device.of(DeviceCall::Text);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].text, twoDecimals(v)) << v;
    }
    display->setValue(0.5f);
    f.device.clear();
    display->draw(f.context);
    EXPECT_EQ(f.device.of(DeviceCall::Text)[0].text, "0.50");
    display->setValue(12.345f);
    f.device.clear();
    display->draw(f.context);
    EXPECT_EQ(f.device.of(DeviceCall::Text)[0].text, "12.35");

    display->setStringConvert(
        [](float v, char* text) { std::sprintf(text, "%d dB", int(v * 10)); });
    display->setValue(0.75f);
    f.device.clear();
    display->draw(f.context);
    EXPECT_EQ(f.device.of(DeviceCall::Text)[0].text, "7 dB");
    static int data = 42;
    display->setStringConvertWithData(
        [](float, char* text, void* user) { std::sprintf(text, "#%d", *static_cast<int*>(user)); },
        &data);
    f.device.clear();
    display->draw(f.context);
    EXPECT_EQ(f.device.of(DeviceCall::Text)[0].text, "#42");
}

TEST(ParamDisplayLook, StylesDecideBackgroundFrameAndText) {
    FrameFixture f;
    auto* display = new CParamDisplay(CRect(10, 20, 70, 36));
    f.frame->addView(display);
    display->setBackColor(CColor{10, 20, 30, 255});
    display->setFrameColor(CColor{200, 100, 50, 255});
    display->setFontColor(CColor{1, 1, 1, 255});
    display->setShadowColor(CColor{2, 2, 2, 255});

    // Default: fill, outline, text.
    f.device.clear();
    display->draw(f.context);
    EXPECT_EQ(f.device.of(DeviceCall::Fill).size(), 1u);
    EXPECT_EQ(f.device.of(DeviceCall::Line).size(), 4u);
    EXPECT_EQ(f.device.of(DeviceCall::Text).size(), 1u);
    EXPECT_FALSE(display->isDirty());

    // Nothing at all, yet clean.
    display->setStyle(0x1000);
    EXPECT_TRUE(display->isDirty());
    f.device.clear();
    display->draw(f.context);
    EXPECT_TRUE(f.device.calls.empty());
    EXPECT_FALSE(display->isDirty());

    // No outline; no text.
    display->setStyle(0x4000 | 0x0800);
    f.device.clear();
    display->draw(f.context);
    EXPECT_EQ(f.device.of(DeviceCall::Fill).size(), 1u);
    EXPECT_TRUE(f.device.of(DeviceCall::Line).empty());
    EXPECT_TRUE(f.device.of(DeviceCall::Text).empty());

    // Transparent without a bitmap: only the text.
    display->setStyle(0);
    display->setTransparency(true);
    f.device.clear();
    display->draw(f.context);
    EXPECT_TRUE(f.device.of(DeviceCall::Fill).empty());
    EXPECT_TRUE(f.device.of(DeviceCall::Line).empty());
    EXPECT_EQ(f.device.of(DeviceCall::Text).size(), 1u);

    // Shadow: the copy at +1, +1 in the shadow colour comes first.
    display->setStyle(0x0004);
    f.device.clear();
    display->draw(f.context);
    const auto texts = f.device.of(DeviceCall::Text);
    const auto colours = f.device.of(DeviceCall::TextColor);
    ASSERT_EQ(texts.size(), 2u);
    ASSERT_GE(colours.size(), 2u);
    EXPECT_EQ(texts[0].rect, CRect(11, 21, 71, 37));
    EXPECT_EQ(texts[1].rect, CRect(10, 20, 70, 36));
    EXPECT_EQ(colours[colours.size() - 2].color, (CColor{2, 2, 2, 255}));
    EXPECT_EQ(colours.back().color, (CColor{1, 1, 1, 255}));
    EXPECT_FALSE(texts[1].opaque);
    display->setTextTransparency(false);
    f.device.clear();
    display->draw(f.context);
    EXPECT_TRUE(f.device.of(DeviceCall::Text).back().opaque);
}

TEST(ParamDisplayLook, ThreeDFrameColoursAndTextClip) {
    FrameFixture f;
    auto* display = new CParamDisplay(CRect(10, 20, 70, 36));
    f.frame->addView(display);
    const CColor back{10, 20, 30, 255};
    const CColor frameColour{200, 100, 50, 255};
    display->setBackColor(back);
    display->setFrameColor(frameColour);
    display->setStyle(0x0080);
    f.device.clear();
    display->draw(f.context);
    // No plain outline: only the two strokes of two segments each.
    auto lines = f.device.of(DeviceCall::Line);
    auto pens = f.device.of(DeviceCall::Pen);
    ASSERT_EQ(lines.size(), 4u);
    ASSERT_GE(pens.size(), 2u);
    EXPECT_EQ(pens[pens.size() - 2].color, back);  // left and top
    EXPECT_EQ(pens.back().color, frameColour);     // right and bottom
    EXPECT_EQ(lines[0].point, CPoint(10, 21));
    EXPECT_EQ(lines[1].point, CPoint(69, 21));
    EXPECT_EQ(lines[2].point, CPoint(69, 35));
    EXPECT_EQ(lines[3].point, CPoint(10, 35));

    display->setStyle(0x0100);
    f.context->setFrameColor(kWhiteColor);
    f.device.clear();
    display->draw(f.context);
    pens = f.device.of(DeviceCall::Pen);
    ASSERT_GE(pens.size(), 2u);
    EXPECT_EQ(pens[pens.size() - 2].color, frameColour);
    EXPECT_EQ(pens.back().color, back);

    // The text is clipped to the display within the clip in force, which is
    // restored afterwards.
    display->setStyle(0);
    f.context->setClipRect(CRect(0, 0, 50, 30));
    f.device.clear();
    display->draw(f.context);
    const auto clips = f.device.of(DeviceCall::Clip);
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[0].rect, CRect(10, 20, 50, 30));
    EXPECT_EQ(clips[1].rect, CRect(0, 0, 50, 30));
    // Entirely outside the clip: an empty clip, never an inverted one.
    f.context->setClipRect(CRect(100, 100, 150, 150));
    f.device.clear();
    display->draw(f.context);
    const auto outside = f.device.of(DeviceCall::Clip);
    ASSERT_FALSE(outside.empty());
    EXPECT_TRUE(outside[0].rect.isEmpty());
    EXPECT_GE(outside[0].rect.right, outside[0].rect.left);
    EXPECT_GE(outside[0].rect.bottom, outside[0].rect.top);
}

TEST(ParamDisplayLook, SettersMarkDirtyOnlyOnChange) {
    kvtest::TestClock clock;
    auto* display = new CParamDisplay(CRect(0, 0, 10, 10));
    display->setDirty(false);
    display->setFont(3);
    display->setFontColor(kWhiteColor);
    display->setBackColor(kBlackColor);
    display->setHoriAlign(1);
    display->setStyle(0);
    display->setFontStyle(0);
    EXPECT_FALSE(display->isDirty());
    display->setBackColor(CColor{0, 0, 0, 254});  // alpha counts
    EXPECT_TRUE(display->isDirty());
    display->setDirty(false);
    display->setHoriAlign(2);
    EXPECT_TRUE(display->isDirty());
    EXPECT_TRUE(display->isTypeOf("CParamDisplay"));
    EXPECT_FALSE(display->isTypeOf("CTextEdit"));
    display->forget();
}

TEST(TextEditText, SetTextRulesAndConversions) {
    FrameFixture f;
    auto* edit = new CTextEdit(CRect(0, 0, 60, 14), nullptr, 0);
    f.frame->addView(edit);
    edit->setDirty(false);
    edit->setText(nullptr);
    EXPECT_FALSE(edit->isDirty());
    edit->setText("abc");
    EXPECT_TRUE(edit->isDirty());
    edit->setDirty(false);
    edit->setText("abc");
    EXPECT_FALSE(edit->isDirty());
    edit->setText(nullptr);
    EXPECT_TRUE(edit->isDirty());
    char out[256] = "x";
    edit->getText(out);
    EXPECT_STREQ(out, "");

    // Over-long text is cut to the 255 bytes the control holds.
    const std::string longText(300, 'q');
    edit->setText(longText.c_str());
    edit->getText(out);
    EXPECT_EQ(std::strlen(out), 255u);

    // A value conversion rewrites the text at each redraw.
    edit->setStringConvert([](float v, char* text) { std::sprintf(text, "%.1f dB", v * 10); });
    edit->setValue(0.5f);
    f.device.clear();
    edit->draw(f.context);
    EXPECT_EQ(f.device.of(DeviceCall::Text).back().text, "5.0 dB");
    edit->getText(out);
    EXPECT_STREQ(out, "5.0 dB");

    // An edit conversion shows the converted text and keeps the text.
    edit->setText("7");
    edit->setEditConvert([](char* text, char* shown) { std::sprintf(shown, "<%s>", text); });
    f.device.clear();
    edit->draw(f.context);
    EXPECT_EQ(f.device.of(DeviceCall::Text).back().text, "<7>");
    edit->getText(out);
    EXPECT_STREQ(out, "7");
    EXPECT_FALSE(edit->isDirty());
    EXPECT_TRUE(edit->isTypeOf("CTextEdit"));
    EXPECT_TRUE(edit->isTypeOf("CParamDisplay"));
}

TEST(TextEditField, OpensOverTheControlWithItsLook) {
    EditFixture f;
    f.window->setScreenOrigin(CPoint(300, 200));
    f.edit->setFont(4);  // 11 px in a 12 px high control: 10 px
    f.edit->setFontStyle(1);
    f.edit->setHoriAlign(2);
    f.edit->setFontColor(CColor{1, 2, 3, 255});
    f.edit->setBackColor(CColor{4, 5, 6, 255});
    f.open();
    HeadlessTextField* field = HeadlessTextField::last();
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), "1.25");
    // Screen origin + container origin + the control's rectangle.
    EXPECT_EQ(field->screenRect(),
              CRect(300 + 20 + 10, 200 + 30 + 40, 300 + 20 + 90, 200 + 30 + 52));
    EXPECT_EQ(field->font().pixelHeight, 10);
    EXPECT_FALSE(field->font().bold);
    EXPECT_STREQ(field->font().face, "Arial");
    EXPECT_EQ(field->align(), platform::TextAlign::right);
    EXPECT_EQ(field->fontColor(), (CColor{1, 2, 3, 255}));
    EXPECT_EQ(field->backColor(), (CColor{4, 5, 6, 255}));
    EXPECT_EQ(field->maxCharacters(), 255);
    EXPECT_EQ(f.frame->getFocusView(), f.edit);
    EXPECT_TRUE(f.edit->isEditing());

    // Nothing is drawn over the open field.
    f.device.clear();
    f.edit->draw(f.context);
    EXPECT_TRUE(f.device.calls.empty());

    // A second click while editing does nothing.
    f.open();
    EXPECT_EQ(HeadlessTextField::openCount(), 1);
    EXPECT_EQ(f.begins(), 1);
}

TEST(TextEditField, ReturnCommitsOnceAndNotifiesTheParent) {
    EditFixture f;
    f.open();
    HeadlessTextField::last()->typeText("7.5");
    HeadlessTextField::last()->pressReturn();
    EXPECT_EQ(HeadlessTextField::openCount(), 0);
    EXPECT_FALSE(f.edit->isEditing());
    EXPECT_TRUE(f.edit->wasReturnPressed());
    EXPECT_STREQ(f.edit->text(), "7.5");
    ASSERT_EQ(f.listener.reports.size(), 1u);
    EXPECT_EQ(f.box->looseFocus, 1);
    EXPECT_EQ(f.box->lastSender, f.edit);
    EXPECT_EQ(f.begins(), 1);
    EXPECT_EQ(f.ends(), 1);
    EXPECT_EQ(f.frame->getFocusView(), nullptr);
    EXPECT_TRUE(f.edit->isDirty());            // shows the new text at the next idle
    EXPECT_FLOAT_EQ(f.edit->getValue(), 0.f);  // editing never sets the value
}

TEST(TextEditField, ClickElsewhereEndsTheEditWithoutAChange) {
    EditFixture f;
    f.open();
    // The frame takes the focus away on every click.
    f.frame->onMouseDown(f.context, CPoint(5, 390), kMouseLeft);
    EXPECT_EQ(HeadlessTextField::openCount(), 0);
    EXPECT_TRUE(f.listener.reports.empty());
    EXPECT_EQ(f.box->looseFocus, 1);
    EXPECT_FALSE(f.edit->wasReturnPressed());
    EXPECT_EQ(f.ends(), 1);

    // Focus lost to another window, with a changed text.
    f.open();
    HeadlessTextField::last()->setText("-3");
    HeadlessTextField::last()->loseFocus();
    ASSERT_EQ(f.listener.reports.size(), 1u);
    EXPECT_STREQ(f.edit->text(), "-3");
    EXPECT_EQ(f.box->looseFocus, 2);
    EXPECT_EQ(f.begins(), 2);
    EXPECT_EQ(f.ends(), 2);
}

TEST(TextEditField, ASecondReportWhileClosingIsIgnored) {
    EditFixture f;
    f.listener.onChange = [&](CControl*) {
        // The field reports once more while the control is still closing.
        f.edit->reportFocusLossAgain();
        f.edit->reportReturnAgain();
    };
    f.open();
    HeadlessTextField::last()->typeText("9");
    HeadlessTextField::last()->pressReturn();
    EXPECT_EQ(f.listener.reports.size(), 1u);
    EXPECT_EQ(f.box->looseFocus, 1);
    EXPECT_EQ(f.ends(), 1);

    // Frame-level focus changes while not editing change nothing.
    f.frame->setFocusView(f.edit);
    f.frame->setFocusView(nullptr);
    EXPECT_EQ(f.box->looseFocus, 1);
    EXPECT_EQ(f.ends(), 1);
}

TEST(TextEditField, DoubleClickStyleNeedsTwoClicksWithinTheDelay) {
    EditFixture f;
    f.edit->setStyle(0x2000);
    const int32_t delay = f.edit->getDoubleClickDelay();
    ASSERT_EQ(delay, 400);
    f.clock.now = 5000;
    f.open();
    EXPECT_EQ(HeadlessTextField::openCount(), 0);
    f.clock.now += static_cast<uint32_t>(delay);  // too late: a new first click
    f.open();
    EXPECT_EQ(HeadlessTextField::openCount(), 0);
    f.clock.now += static_cast<uint32_t>(delay) - 1;
    f.open();
    EXPECT_EQ(HeadlessTextField::openCount(), 1);
    HeadlessTextField::last()->pressReturn();

    // The pair may straddle the wrap of the tick counter.
    f.clock.now = 0xFFFFFFF0u;
    f.open();
    f.clock.now = 0x00000020u;
    f.open();
    EXPECT_EQ(HeadlessTextField::openCount(), 1);
    HeadlessTextField::last()->pressReturn();

    // A right click or a disabled control never starts anything.
    f.edit->setStyle(0);
    f.edit->onMouseDown(f.context, CPoint(50, 46), kMouseRight);
    f.edit->setMouseEnabled(false);
    f.open();
    EXPECT_EQ(HeadlessTextField::openCount(), 0);
}

// "é" is two bytes and "€" three: no edit may leave half a character.
TEST(LineEditModel, StepsDeletesAndCutsWholeUtf8Characters) {
    LineEdit cut("a\u20ac", 3);  // the euro sign does not fit in the one byte left
    EXPECT_EQ(cut.text(), "a");

    LineEdit line("x\u00e9\u20ac", 10);
    line.end(false);
    line.left(false);
    EXPECT_EQ(line.caret(), 3u);
    line.backspace();
    EXPECT_EQ(line.text(), "x\u20ac");
    line.deleteForward();
    EXPECT_EQ(line.text(), "x");

    LineEdit full("-1", 5);
    full.end(false);
    EXPECT_TRUE(full.type("2\u20ac"));  // room for "2" but not the euro sign
    EXPECT_EQ(full.text(), "-12");
    EXPECT_TRUE(full.type("\u20acx"));  // two bytes left: no whole character fits
    EXPECT_EQ(full.text(), "-12");
}

TEST(LineEditModel, SelectionFollowsShiftAndTypingReplacesIt) {
    LineEdit line("-20.00", 255);
    EXPECT_TRUE(line.allSelected());  // as the field opens
    line.left(false);                 // collapses to the selection's start
    EXPECT_EQ(line.caret(), 0u);
    EXPECT_FALSE(line.hasSelection());

    line.right(false);
    line.end(true);
    EXPECT_EQ(line.selectionStart(), 1u);
    EXPECT_EQ(line.selectionEnd(), 6u);
    line.right(false);  // collapses to the end
    EXPECT_EQ(line.caret(), 6u);
    line.home(true);
    line.right(true);  // Shift moves the caret only
    EXPECT_EQ(line.anchor(), 6u);
    EXPECT_EQ(line.caret(), 1u);
    EXPECT_TRUE(line.type("6"));
    EXPECT_EQ(line.text(), "-6");

    EXPECT_FALSE(line.type("\t"));
    EXPECT_FALSE(line.type("\x1b"));
    EXPECT_FALSE(line.type("\x7f"));
    EXPECT_FALSE(line.type(""));
    line.selectAll();
    line.backspace();
    EXPECT_EQ(line.text(), "");
    EXPECT_FALSE(line.allSelected());  // an empty text has nothing to select
}
