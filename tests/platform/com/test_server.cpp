// A tiny in-process server for the loader tests: one class whose factory is
// the only object; the library may unload while no factory is alive.
#include "platform/com/com.h"

using namespace lyb::com;

namespace {

constexpr CLSID kClass{
    0x11112222, 0x3333, 0x4444, {0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC}};
int alive = 0;

class Factory final : public IClassFactory {
public:
    Factory() { ++alive; }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    uint32_t AddRef() override { return ++refs_; }
    uint32_t Release() override {
        const uint32_t left = --refs_;
        if (left == 0) {
            --alive;
            delete this;
        }
        return left;
    }
    HRESULT CreateInstance(IUnknown*, REFIID, void**) override { return E_FAIL; }
    HRESULT LockServer(int) override { return S_OK; }

private:
    uint32_t refs_ = 1;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID iid,
                                                                            void** object) {
    if (clsid != kClass)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new Factory;
    const HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return alive == 0 ? S_OK : S_FALSE;
}
