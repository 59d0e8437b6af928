#include <algorithm>

#include "platform/headless/headless_window.h"

namespace VSTGUI::platform {

namespace {

HeadlessTextField* lastField = nullptr;
int32_t fieldsOpen = 0;

}  // namespace

HeadlessTextField::HeadlessTextField(NativeWindow& owner, const TextFieldSetup& setup,
                                     TextFieldEvents& fieldEvents)
    : ownerWindow(owner),
      events(fieldEvents),
      content(setup.text ? setup.text : ""),
      rect(setup.screenRect),
      fontDesc(setup.font),
      alignment(setup.align),
      textColor(setup.fontColor),
      background(setup.backColor),
      limit(std::max<int32_t>(0, setup.maxCharacters)) {
    if (static_cast<int32_t>(content.size()) > limit) content.resize(limit);
    lastField = this;
    ++fieldsOpen;
}

HeadlessTextField::~HeadlessTextField() {
    if (lastField == this) lastField = nullptr;
    --fieldsOpen;
}

HeadlessTextField* HeadlessTextField::last() {
    return lastField;
}
int32_t HeadlessTextField::openCount() {
    return fieldsOpen;
}

std::string HeadlessTextField::text() const {
    return content;
}

void HeadlessTextField::setText(const std::string& newText) {
    content = newText.substr(0, static_cast<size_t>(limit));
    selectedAll = false;
}

void HeadlessTextField::typeText(const std::string& typed) {
    // The field opens with all of its text selected: the first keystroke
    // replaces it, later ones append.
    if (selectedAll) content.clear();
    selectedAll = false;
    for (char c : typed) {
        if (static_cast<int32_t>(content.size()) >= limit) break;
        content.push_back(c);
    }
}

// The owner may destroy the field from inside these callbacks; nothing of
// this object is touched afterwards.
void HeadlessTextField::pressReturn() {
    events.textFieldReturn();
}
void HeadlessTextField::loseFocus() {
    events.textFieldFocusLost();
}

std::unique_ptr<TextField> createTextField(NativeWindow& owner, const TextFieldSetup& setup,
                                           TextFieldEvents& events) {
    return std::make_unique<HeadlessTextField>(owner, setup, events);
}

}  // namespace VSTGUI::platform
