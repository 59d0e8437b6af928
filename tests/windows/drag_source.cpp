#include "drag_source.h"

#include <ole2.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace kvtest {

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class DataObject final : public IDataObject {
  public:
    DataObject(std::vector<std::string> files, std::string text)
        : files_(std::move(files)), text_(std::move(text)) {}
    virtual ~DataObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
            *out = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --count_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium) return E_INVALIDARG;
        if (!(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
        HGLOBAL global = nullptr;
        if (format->cfFormat == CF_HDROP && !files_.empty()) {
            global = makeFileList();
        } else if (format->cfFormat == CF_TEXT && files_.empty()) {
            global = GlobalAlloc(GHND, text_.size() + 1);
            if (global) {
                std::memcpy(GlobalLock(global), text_.c_str(), text_.size() + 1);
                GlobalUnlock(global);
            }
        } else {
            return DV_E_FORMATETC;
        }
        if (!global) return E_OUTOFMEMORY;
        ++served_;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = global;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        if (!format) return E_INVALIDARG;
        if (format->cfFormat == CF_HDROP && !files_.empty()) return S_OK;
        if (format->cfFormat == CF_TEXT && files_.empty()) return S_OK;
        return DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out) out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }

  private:
    // DROPFILES followed by the names, each zero-terminated, and one more zero.
    HGLOBAL makeFileList() const {
        size_t size = sizeof(DROPFILES) + 1;
        for (const std::string& f : files_)
            size += f.size() + 1;
        HGLOBAL global = GlobalAlloc(GHND, size);
        if (!global) return nullptr;
        auto* header = static_cast<DROPFILES*>(GlobalLock(global));
        header->pFiles = sizeof(DROPFILES);
        header->fWide = FALSE;
        char* names = reinterpret_cast<char*>(header) + sizeof(DROPFILES);
        for (const std::string& f : files_) {
            std::memcpy(names, f.c_str(), f.size() + 1);
            names += f.size() + 1;
        }
        *names = '\0';
        GlobalUnlock(global);
        return global;
    }

    std::atomic<ULONG> count_{1};
    std::vector<std::string> files_;
    std::string text_;
    int served_ = 0;
};

class DropSource final : public IDropSource {
  public:
    DropSource(int polls, DragOutcome& outcome) : polls_(polls), outcome_(outcome) {}
    virtual ~DropSource() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropSource)) {
            *out = static_cast<IDropSource*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --count_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD) override {
        if (escape) return DRAGDROP_S_CANCEL;
        Sleep(20);  // give the target's thread time to answer each move
        return --polls_ > 0 ? S_OK : DRAGDROP_S_DROP;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD effect) override {
        outcome_.feedbackEffects |= effect;
        ++outcome_.feedbackCalls;
        return DRAGDROP_S_USEDEFAULTCURSORS;
    }

  private:
    std::atomic<ULONG> count_{1};
    int polls_;
    DragOutcome& outcome_;
};

#pragma GCC diagnostic pop

}  // namespace

DragOutcome dragFromSecondThread(POINT screen, const std::vector<std::string>& files,
                                 const std::string& text, int polls) {
    // Shared with the source thread, which may outlive this call when a
    // drag hangs and is left behind.
    struct Shared {
        DragOutcome outcome;
        std::atomic<bool> done{false};
    };
    auto shared = std::make_shared<Shared>();
    SetCursorPos(screen.x, screen.y);
    std::thread source([shared, files, text, polls] {
        OleInitialize(nullptr);
        auto* data = new DataObject(files, text);
        auto* dropSource = new DropSource(polls, shared->outcome);
        DWORD effect = 0;
        shared->outcome.result =
            DoDragDrop(data, dropSource, DROPEFFECT_COPY | DROPEFFECT_MOVE, &effect);
        shared->outcome.finalEffect = effect;
        dropSource->Release();
        data->Release();
        OleUninitialize();
        shared->done = true;
    });
    // The target lives on this thread: its calls arrive as messages here.
    const DWORD start = GetTickCount();
    while (!shared->done && GetTickCount() - start < 20000) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    if (!shared->done) {
        source.detach();  // a drag that hangs must not hang the test too
        return DragOutcome{};
    }
    source.join();
    return shared->outcome;
}

}  // namespace kvtest
