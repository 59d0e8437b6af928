// Drops from other applications through OLE: an IDropTarget registered for
// the frame's window. It counts the dragged items (one for text, the number
// of files for a file list, none for anything else) and hands enter, move,
// leave and drop to the toolkit, which reads the pointer itself.
//
// The system's registration holds the target's references: RevokeDragDrop
// releases the last one, which deletes it.
#include <ole2.h>
#include <shellapi.h>
#include <windows.h>

#include <memory>

#include "platform/win32/win32_window.h"
#include "vstgui/platform/drop_target.h"

namespace VSTGUI::platform {

namespace win32 {

// The number of items a data object carries, as the toolkit counts them.
int32_t countDragItems(IDataObject* data) {
    if (!data) return 0;
    FORMATETC format{CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (SUCCEEDED(data->GetData(&format, &medium))) {
        ReleaseStgMedium(&medium);
        return 1;
    }
    format.cfFormat = CF_HDROP;
    medium = STGMEDIUM{};
    if (SUCCEEDED(data->GetData(&format, &medium))) {
        int32_t count = 0;
        if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
            count = static_cast<int32_t>(
                DragQueryFileA(static_cast<HDROP>(medium.hGlobal), 0xFFFFFFFF, nullptr, 0));
        }
        ReleaseStgMedium(&medium);
        return count;
    }
    return 0;
}

namespace {

// COM interfaces have no virtual destructor by design: objects delete
// themselves in Release, never through an interface pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Slot order is IUnknown's, then IDropTarget's: the class derives from the
// system's interface declaration, which fixes it.
class CDropTarget final : public IDropTarget {
  public:
    explicit CDropTarget(DropEvents& events) : events_(events) {}
    virtual ~CDropTarget() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IDropTarget) || IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IDropTarget*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++count_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = --count_;
        if (left > 0) return static_cast<ULONG>(left);
        delete this;
        return 0;
    }

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        if (!data || detached_) {
            if (effect) *effect = DROPEFFECT_NONE;
            return S_OK;
        }
        inDrag_ = true;
        const bool move = events_.dragEnter(countDragItems(data));
        if (effect) *effect = move ? DROPEFFECT_MOVE : DROPEFFECT_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override {
        if (!inDrag_ || detached_) return S_OK;
        const bool move = events_.dragMove();
        if (effect) *effect = move ? DROPEFFECT_MOVE : DROPEFFECT_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override {
        if (!inDrag_ || detached_) return S_OK;
        inDrag_ = false;
        events_.dragLeave();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject*, DWORD, POINTL, DWORD* effect) override {
        if (!inDrag_ || detached_) return S_OK;
        inDrag_ = false;
        // A source told "moved" deletes what it offered: only when a view
        // really took the drop.
        const bool taken = events_.drop();
        if (effect) *effect = taken ? DROPEFFECT_MOVE : DROPEFFECT_NONE;
        return S_OK;
    }

    // The owner is gone; the system may still hold a reference for a while.
    void detach() { detached_ = true; }

  private:
    LONG count_ = 0;
    DropEvents& events_;
    bool inDrag_ = false;
    bool detached_ = false;
};

#pragma GCC diagnostic pop

class Win32DropTarget final : public DropTarget {
  public:
    Win32DropTarget(HWND window, CDropTarget* target) : window_(window), target_(target) {
        target_->AddRef();  // ours, so the target survives a failed revoke
    }
    ~Win32DropTarget() override {
        target_->detach();
        if (IsWindow(window_)) RevokeDragDrop(window_);
        target_->Release();
    }

  private:
    HWND window_;
    CDropTarget* target_;
};

}  // namespace
}  // namespace win32

std::unique_ptr<DropTarget> registerDropTarget(NativeWindow& window, DropEvents& events) {
    HWND hwnd = static_cast<HWND>(window.handle());
    if (!hwnd || !IsWindow(hwnd)) return nullptr;
    auto* target = new win32::CDropTarget(events);
    auto registration = std::make_unique<win32::Win32DropTarget>(hwnd, target);
    if (FAILED(RegisterDragDrop(hwnd, target))) return nullptr;  // releases our reference
    return registration;
}

}  // namespace VSTGUI::platform
