// What a drag offers and how many files a list holds, on hand-made inputs.
#include <gtest/gtest.h>

#include <string>

#include "platform/x11/x11_xdnd.h"

using namespace VSTGUI::platform::x11;

namespace {

int32_t count(const std::string& list) {
    return countUriList(list.data(), list.size());
}

}  // namespace

TEST(XdndKinds, FileListsWinOverTextAndUnknownTypesGiveNothing) {
    EXPECT_EQ(kindOfTypes({"text/plain", "text/uri-list"}), DragKind::uriList);
    EXPECT_EQ(kindOfTypes({"UTF8_STRING"}), DragKind::text);
    EXPECT_EQ(kindOfTypes({"STRING"}), DragKind::text);
    EXPECT_EQ(kindOfTypes({"TEXT"}), DragKind::text);
    EXPECT_EQ(kindOfTypes({"image/png", "text/plain;charset=utf-8"}), DragKind::text);
    EXPECT_EQ(kindOfTypes({"image/png", "text/html"}), DragKind::none);
    EXPECT_EQ(kindOfTypes({}), DragKind::none);
}

TEST(XdndUriLists, LinesCountWithEitherLineEnd) {
    EXPECT_EQ(count("file:///a\r\nfile:///b\r\nfile:///c\r\n"), 3);
    EXPECT_EQ(count("file:///a\nfile:///b\nfile:///c"), 3) << "no final line end";
    EXPECT_EQ(count("file:///a\n\n\r\n  \t\nhttp://example.org/x\n"), 2) << "blank lines";
    EXPECT_EQ(count("# a comment\r\nfile:///a\r\n#file:///not-counted\r\n"), 1);
    EXPECT_EQ(count("  file:///indented \r\n"), 1);
    EXPECT_EQ(count(""), 0);
    EXPECT_EQ(countUriList(nullptr, 10), 0);
}

TEST(XdndUriLists, GarbageCountsNothingAndNeverReadsPastTheEnd) {
    EXPECT_EQ(count("not a uri\n::::\n1abc:x\nfile:\n"), 0);
    EXPECT_EQ(count(std::string("\xff\xfe\x01\x02", 4)), 0);
    // A NUL ends a line, as sources that terminate their list do.
    EXPECT_EQ(count(std::string("file:///a\0file:///b\0\0", 21)), 2);
    // The size is the limit, not a terminator: the second URI is cut off
    // before its scheme ends.
    const std::string cut = "file:///a\nfile:///b";
    EXPECT_EQ(countUriList(cut.data(), 12), 1);
    // Long lists: every line counts.
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += "file:///tmp/" + std::to_string(i) + "\r\n";
    EXPECT_EQ(count(many), 5000);
}
