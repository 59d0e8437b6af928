// The base of every shared toolkit object. The count is a plain integer:
// toolkit objects are created, shared and released on the user-interface
// thread only. Construction hands the creator the first reference; whoever
// stores a pointer for longer than one call remembers it, and every holder
// forgets exactly once. The last forget deletes the object.
#pragma once

#include <cstdint>

namespace VSTGUI {

class CReferenceCounter {
  public:
    CReferenceCounter() = default;
    CReferenceCounter(const CReferenceCounter&) = delete;
    CReferenceCounter& operator=(const CReferenceCounter&) = delete;
    virtual ~CReferenceCounter() = default;

    virtual void forget() {
        if (--nbReference == 0) delete this;
    }
    virtual void remember() { ++nbReference; }

    int32_t getNbReference() const { return nbReference; }

  private:
    int32_t nbReference = 1;
};

}  // namespace VSTGUI
