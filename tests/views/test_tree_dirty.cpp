// What "dirty" means and how update turns it into drawing.
#include <gtest/gtest.h>

#include "view_test_support.h"

using namespace kvtest;
using VSTGUI::platform::HeadlessWindow;

namespace {

struct DirtyTest : ::testing::Test {
    CountingFrame frame{CRect(0, 0, 200, 200), hostWindow(), nullptr};
    HeadlessWindow* window = HeadlessWindow::last();

    template <typename T>
    T* add(T* view, CViewContainer* into = nullptr) {
        (into ? into : static_cast<CViewContainer*>(&frame))->addView(view);
        return view;
    }
    // The first paint: everything visible is drawn and clean afterwards.
    void paintAll() { window->paint(CRect(0, 0, 200, 200)); }
};

}  // namespace

TEST_F(DirtyTest, AddingMarksDirtyAndAPaintCleansWhatItDrew) {
    auto* box = add(new Box(CRect(0, 0, 100, 100)));
    auto* probe = add(new Probe(CRect(10, 10, 20, 20)), box);
    EXPECT_TRUE(probe->isDirty());
    EXPECT_TRUE(box->isDirty());
    EXPECT_TRUE(frame.isDirty());
    paintAll();
    EXPECT_FALSE(probe->isDirty());
    EXPECT_FALSE(box->isDirty());
    EXPECT_FALSE(frame.isDirty());

    probe->setViewSize(CRect(10, 10, 30, 30));
    EXPECT_TRUE(box->isDirty());
    EXPECT_EQ(probe->getMouseableArea(), CRect(10, 10, 20, 20));  // unchanged
}

TEST_F(DirtyTest, ADirtyChildOutsideItsContainerIsNeverRedrawn) {
    auto* box = add(new Box(CRect(0, 0, 50, 50)));
    auto* outside = add(new Probe(CRect(60, 60, 70, 70)), box);
    auto* straddling = add(new Probe(CRect(45, 45, 55, 55)), box);
    paintAll();
    // A child drawn only in part stays dirty; take that back for now.
    EXPECT_TRUE(straddling->isDirty());
    straddling->setDirty(false);
    EXPECT_TRUE(outside->isDirty());  // never drawn, so still dirty
    EXPECT_FALSE(box->isDirty());
    EXPECT_FALSE(frame.isDirty());

    const int32_t draws = outside->draws;
    const int32_t presents = window->presentCount();
    frame.idle();
    EXPECT_EQ(outside->draws, draws);
    EXPECT_EQ(window->presentCount(), presents);  // idle found nothing to do

    // A child with one visible pixel counts.
    straddling->setDirty(true);
    EXPECT_TRUE(box->isDirty());
    frame.idle();
    EXPECT_EQ(window->presentCount(), presents + 1);
    EXPECT_EQ(outside->draws, draws);
}

TEST_F(DirtyTest, UpdateModes) {
    auto* whole = add(new Box(CRect(0, 0, 50, 50)));
    auto* a = add(new Probe(CRect(5, 5, 10, 10)), whole);
    auto* b = add(new Probe(CRect(20, 20, 30, 30)), whole);
    auto* odd = add(new Box(CRect(100, 0, 150, 50)));
    auto* c = add(new Probe(CRect(5, 5, 10, 10)), odd);
    paintAll();
    whole->setMode(kUpdateWhole);
    odd->setMode(2);

    a->setDirty(true);
    c->setDirty(true);
    const int32_t bDraws = b->draws;
    const int32_t cDraws = c->draws;
    frame.idle();
    // Whole: the clean sibling is drawn again too.
    EXPECT_EQ(b->draws, bDraws + 1);
    EXPECT_FALSE(a->isDirty());
    // Any other mode draws nothing and stays dirty.
    EXPECT_EQ(c->draws, cDraws);
    EXPECT_TRUE(odd->isDirty());
    EXPECT_TRUE(c->isDirty());

    // Dirty-children mode (the default) draws only the dirty child.
    odd->setMode(kUpdateDirtyChildren);
    const int32_t bDraws2 = b->draws;
    frame.idle();
    EXPECT_EQ(c->draws, cDraws + 1);
    EXPECT_EQ(b->draws, bDraws2);
    EXPECT_FALSE(frame.isDirty());
}

TEST_F(DirtyTest, APartlyRedrawnDirtyChildStaysDirty) {
    auto* probe = add(new Probe(CRect(10, 10, 50, 50)));
    auto* clean = add(new Probe(CRect(60, 60, 80, 80)));
    paintAll();
    probe->setDirty(true);
    clean->setDirty(false);

    window->paint(CRect(0, 0, 30, 30));
    EXPECT_EQ(probe->lastUpdate, CRect(0, 0, 30, 30));
    EXPECT_TRUE(probe->isDirty());  // only part of it reached the screen

    // Drawn whole it is clean; a clean child drawn in part stays clean.
    window->paint(CRect(0, 0, 70, 70));
    EXPECT_FALSE(clean->isDirty());
    EXPECT_FALSE(probe->isDirty());
}

TEST_F(DirtyTest, RedrawRequestsTravelUpThroughTransparentContainers) {
    auto* glass = add(new Box(CRect(50, 50, 150, 150)));
    glass->setTransparency(true);
    auto* inGlass = add(new Probe(CRect(10, 10, 20, 20)), glass);
    auto* solid = add(new Box(CRect(0, 150, 100, 200)));
    auto* inSolid = add(new Probe(CRect(10, 10, 20, 20)), solid);
    paintAll();

    inGlass->setDirty(true);
    const int32_t frameDraws = frame.drawRects;
    frame.idle();
    // The request reached the frame in frame coordinates.
    EXPECT_EQ(frame.drawRects, frameDraws + 1);
    EXPECT_EQ(frame.lastRect, CRect(60, 60, 70, 70));
    EXPECT_FALSE(inGlass->isDirty());

    // An opaque container draws the part itself; the frame is not asked.
    inSolid->setDirty(true);
    const int32_t solidDraws = solid->drawRects;
    frame.idle();
    EXPECT_EQ(frame.drawRects, frameDraws + 1);
    EXPECT_EQ(solid->drawRects, solidDraws + 1);
    EXPECT_FALSE(inSolid->isDirty());
}

TEST_F(DirtyTest, InvalidateAndDisabledUpdates) {
    auto* a = add(new Probe(CRect(0, 0, 10, 10)));
    auto* b = add(new Probe(CRect(50, 50, 60, 60)));
    auto* box = add(new Box(CRect(100, 100, 200, 200)));
    auto* deep = add(new Probe(CRect(0, 0, 10, 10)), box);
    paintAll();

    // Touching includes a shared edge; only direct children are marked.
    frame.invalidate(CRect(10, 10, 40, 40));
    EXPECT_TRUE(a->isDirty());
    EXPECT_FALSE(b->isDirty());
    frame.invalidate(CRect(100, 100, 105, 105));
    EXPECT_FALSE(deep->isDirty());

    EXPECT_FALSE(frame.setUpdatesDisabled(true));
    const int32_t presents = window->presentCount();
    frame.idle();
    EXPECT_EQ(window->presentCount(), presents);
    EXPECT_TRUE(a->isDirty());
    EXPECT_TRUE(frame.updatesDisabled());
    EXPECT_TRUE(frame.setUpdatesDisabled(false));
    frame.idle();
    EXPECT_EQ(window->presentCount(), presents + 1);
    EXPECT_FALSE(a->isDirty());
}

TEST_F(DirtyTest, UpdateWithoutAContextDrawsAtOnceThroughTheFrame) {
    auto* probe = add(new Probe(CRect(0, 0, 10, 10)));
    paintAll();
    probe->setDirty(true);
    const int32_t draws = probe->draws;
    probe->update(nullptr);
    EXPECT_EQ(probe->draws, draws + 1);
    EXPECT_FALSE(probe->isDirty());

    // A view outside any tree has nobody to draw it.
    auto* loose = new Probe(CRect(0, 0, 10, 10));
    loose->setDirty(true);
    loose->update(nullptr);
    EXPECT_EQ(loose->draws, 0);
    loose->forget();
}
