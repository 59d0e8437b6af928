// Who holds a view, and when it goes away.
#include <gtest/gtest.h>

#include <string>

#include "view_test_support.h"

using namespace kvtest;

TEST(ViewOwnership, AddAndRemoveMoveTheReferences) {
    const int32_t before = Probe::alive;
    auto* box = new Box(CRect(0, 0, 100, 100));
    auto* a = new Probe(CRect(0, 0, 10, 10));
    auto* b = new Probe(CRect(0, 0, 10, 10));
    EXPECT_EQ(a->getNbReference(), 1);

    box->addView(a);
    box->addView(b);
    EXPECT_EQ(a->getNbReference(), 2);
    EXPECT_EQ(a->getParentView(), box);
    EXPECT_TRUE(box->isChild(a));
    EXPECT_EQ(box->getViewCount(), 2);
    EXPECT_EQ(box->getView(1), b);
    EXPECT_EQ(box->getView(2), nullptr);
    EXPECT_EQ(box->getView(-1), nullptr);

    // Without forget the caller owns the view again.
    box->removeView(b, false);
    EXPECT_EQ(Probe::alive, before + 2);
    EXPECT_EQ(b->getNbReference(), 1);
    EXPECT_FALSE(box->isChild(b));

    // With forget both references go: the view is destroyed.
    box->removeView(a, true);
    EXPECT_EQ(Probe::alive, before + 1);
    EXPECT_EQ(box->getViewCount(), 0);

    // Removing a stranger or nothing changes nothing.
    box->removeView(b, true);
    box->removeView(nullptr, true);
    box->addView(nullptr);
    EXPECT_EQ(b->getNbReference(), 1);
    EXPECT_EQ(box->getViewCount(), 0);

    b->forget();
    box->forget();
    EXPECT_EQ(Probe::alive, before);
}

TEST(ViewOwnership, DestroyingAContainerDestroysChildrenNobodyElseHolds) {
    const int32_t views = Probe::alive;
    const int32_t boxes = Box::alive;
    auto* outer = new Box(CRect(0, 0, 100, 100));
    auto* inner = new Box(CRect(10, 10, 50, 50));
    outer->addView(inner);
    auto* kept = new Probe(CRect(0, 0, 5, 5));
    inner->addView(kept);
    inner->addView(new Probe(CRect(5, 5, 9, 9)));
    outer->addView(new Probe(CRect(60, 60, 70, 70)));
    kept->remember();
    EXPECT_EQ(Probe::alive, views + 3);

    outer->forget();
    EXPECT_EQ(Box::alive, boxes);
    EXPECT_EQ(Probe::alive, views + 1);
    EXPECT_EQ(kept->getNbReference(), 1);
    kept->forget();
    EXPECT_EQ(Probe::alive, views);
}

TEST(ViewOwnership, RemoveAllReleasesEveryChildAndOwnedBlocksAreZeroed) {
    const int32_t views = Probe::alive;
    auto* box = new Box(CRect(0, 0, 100, 100));
    auto* kept = new Probe(CRect(0, 0, 5, 5));
    auto* other = new Probe(CRect(0, 0, 5, 5));
    box->addView(kept);
    box->addView(other);
    other->remember();
    box->removeAll(false);
    // Without forget only the list's references went.
    EXPECT_EQ(Probe::alive, views + 2);
    EXPECT_EQ(kept->getNbReference(), 1);
    EXPECT_EQ(box->getViewCount(), 0);

    box->addView(other);
    box->removeAll(true);
    // Both of the box's references went; the extra one survives.
    EXPECT_EQ(other->getNbReference(), 1);
    other->forget();
    kept->forget();
    EXPECT_EQ(Probe::alive, views);

    void* block = box->addOwnedBlock(32);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(block)[31], 0);
    box->addOwnedBlock(8);
    EXPECT_EQ(box->getOwnedBlockCount(), 2u);
    box->forget();
}

TEST(ViewOwnership, SettingTheSameBackgroundTwiceKeepsItAlive) {
    auto* view = new Probe(CRect(0, 0, 10, 10));
    auto* bitmap = new CBitmap(99999);  // no such resource: an empty bitmap
    view->setBackground(bitmap);
    EXPECT_EQ(bitmap->getNbReference(), 2);
    view->setBackground(bitmap);
    EXPECT_EQ(bitmap->getNbReference(), 2);
    EXPECT_TRUE(view->isDirty());
    view->forget();
    EXPECT_EQ(bitmap->getNbReference(), 1);
    bitmap->forget();
}

TEST(ViewIdentity, ClassNamesAndTheContainerMessage) {
    auto* view = new Probe(CRect(0, 0, 1, 1));
    auto* box = new Box(CRect(0, 0, 1, 1));
    CFrame frame(CRect(0, 0, 10, 10), nullptr, nullptr);

    EXPECT_TRUE(view->isTypeOf("CView"));
    EXPECT_FALSE(view->isTypeOf("CViewContainer"));
    EXPECT_FALSE(view->isTypeOf("cview"));
    EXPECT_FALSE(view->isTypeOf(nullptr));
    EXPECT_TRUE(box->isTypeOf("CViewContainer"));
    EXPECT_TRUE(box->isTypeOf("CView"));
    EXPECT_FALSE(box->isTypeOf("CFrame"));
    EXPECT_FALSE(box->isTypeOf("CScrollContainer"));
    EXPECT_TRUE(frame.isTypeOf("CFrame"));
    EXPECT_TRUE(frame.isTypeOf("CViewContainer"));
    EXPECT_TRUE(frame.isTypeOf("CView"));

    EXPECT_EQ(box->notify(nullptr, kMsgCheckIfViewContainer), 1);
    EXPECT_EQ(frame.notify(nullptr, kMsgCheckIfViewContainer), 1);
    EXPECT_EQ(view->notify(nullptr, kMsgCheckIfViewContainer), 0);
    // The same characters at another address are not the message.
    const std::string copy(kMsgCheckIfViewContainer);
    EXPECT_EQ(box->notify(nullptr, copy.c_str()), 0);

    view->forget();
    box->forget();
}
