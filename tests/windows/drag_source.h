// A drag source for tests: an IDataObject that offers a list of files
// (CF_HDROP) or a text (CF_TEXT), and an IDropSource that holds the drag
// for a number of polls, then drops. Runs DoDragDrop on its own thread, as a
// second application would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvtest {

struct DragOutcome {
    HRESULT result = E_FAIL;    // DoDragDrop's answer (DRAGDROP_S_DROP ...)
    DWORD finalEffect = 0;      // the effect DoDragDrop reported
    DWORD feedbackEffects = 0;  // every effect GiveFeedback saw, or-ed
    int feedbackCalls = 0;
};

// Puts the pointer at `screen`, then drags `files` (or `text` when files
// is empty) from a new thread with its own OLE apartment; the calling
// thread keeps pumping its messages until the drag ends. `polls` is how
// many QueryContinueDrag calls the button stays "held".
DragOutcome dragFromSecondThread(POINT screen, const std::vector<std::string>& files,
                                 const std::string& text, int polls);

}  // namespace kvtest
