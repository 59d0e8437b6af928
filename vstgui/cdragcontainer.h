// What is being dragged over a frame from another application. Views learn
// only how many items the drag carries (1 for text, the number of files for
// a file list, 0 for anything else); no view of this system reads the items.
#pragma once

#include <cstdint>

#include "vstgui/creferencecounter.h"

namespace VSTGUI {

class CDragContainer : public CReferenceCounter {
  public:
    explicit CDragContainer(int32_t count) : itemCount(count < 0 ? 0 : count) {}

    int32_t getCount() const { return itemCount; }

  private:
    int32_t itemCount = 0;
};

}  // namespace VSTGUI
