// COM for in-process objects, and the registrar: our own interpreter of the
// registrar script grammar (registrar_script.h), reading its scripts from the
// resources of a host module (resources.h).
#include <atomic>
#include <map>
#include <mutex>

#include "internal.h"
#include "registrar_script.h"
#include "resources.h"
#include "store.h"
#include "wide.h"
#include "platform/platform.h"

namespace {

thread_local int initializations = 0;

HRESULT Injected(DWORD code) { return static_cast<HRESULT>(code); }

class Registrar final : public IRegistrar {
public:
    Registrar() { host::detail::HandleOpened(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (auto code = host::detail::Enter("QueryInterface"))
            return Injected(*code);
        if (!(iid == IID_IUnknown) && !(iid == IID_IRegistrar))
            return E_NOINTERFACE;
        AddRef();
        *object = static_cast<IRegistrar*>(this);
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }

    ULONG STDMETHODCALLTYPE Release() override {
        host::detail::Enter("Release");
        ULONG left = --references;
        if (left == 0) {
            host::detail::HandleClosed();
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE AddReplacement(LPCOLESTR key, LPCOLESTR item) override {
        if (auto code = host::detail::Enter("AddReplacement"))
            return Injected(*code);
        if (key == nullptr || item == nullptr)
            return E_INVALIDARG;
        replacements[host::detail::Narrow(key)] = host::detail::Narrow(item);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ClearReplacements() override {
        if (auto code = host::detail::Enter("ClearReplacements"))
            return Injected(*code);
        replacements.clear();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ResourceRegisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) override {
        if (auto code = host::detail::Enter("ResourceRegisterSz"))
            return Injected(*code);
        return id ? FromResource(file, host::detail::Narrow(id), type, true) : E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE ResourceUnregisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) override {
        if (auto code = host::detail::Enter("ResourceUnregisterSz"))
            return Injected(*code);
        return id ? FromResource(file, host::detail::Narrow(id), type, false) : E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE FileRegister(LPCOLESTR file) override {
        if (auto code = host::detail::Enter("FileRegister"))
            return Injected(*code);
        return FromFile(file, true);
    }

    HRESULT STDMETHODCALLTYPE FileUnregister(LPCOLESTR file) override {
        if (auto code = host::detail::Enter("FileUnregister"))
            return Injected(*code);
        return FromFile(file, false);
    }

    HRESULT STDMETHODCALLTYPE StringRegister(LPCOLESTR data) override {
        if (auto code = host::detail::Enter("StringRegister"))
            return Injected(*code);
        return data ? host::detail::RunRegistrarScript(host::detail::Narrow(data), replacements, true) : E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE StringUnregister(LPCOLESTR data) override {
        if (auto code = host::detail::Enter("StringUnregister"))
            return Injected(*code);
        return data ? host::detail::RunRegistrarScript(host::detail::Narrow(data), replacements, false) : E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE ResourceRegister(LPCOLESTR file, UINT id, LPCOLESTR type) override {
        if (auto code = host::detail::Enter("ResourceRegister"))
            return Injected(*code);
        return FromResource(file, std::to_string(id), type, true);
    }

    HRESULT STDMETHODCALLTYPE ResourceUnregister(LPCOLESTR file, UINT id, LPCOLESTR type) override {
        if (auto code = host::detail::Enter("ResourceUnregister"))
            return Injected(*code);
        return FromResource(file, std::to_string(id), type, false);
    }

private:
    HRESULT FromResource(LPCOLESTR file, const std::string& id, LPCOLESTR type, bool registering) {
        if (file == nullptr || type == nullptr)
            return E_INVALIDARG;
        std::string script;
        DWORD error = host::detail::LoadModuleResource(host::detail::Narrow(file), host::detail::Narrow(type), id,
                                                       &script);
        if (error != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(error);
        return host::detail::RunRegistrarScript(script, replacements, registering);
    }

    HRESULT FromFile(LPCOLESTR file, bool registering) {
        if (file == nullptr)
            return E_INVALIDARG;
        auto script = host::detail::ReadWholeFile(host::detail::Narrow(file));
        if (!script)
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        return host::detail::RunRegistrarScript(*script, replacements, registering);
    }

    std::atomic<ULONG> references{1};
    std::map<std::string, std::string> replacements;
};

} // namespace

HRESULT CoInitialize(LPVOID) {
    if (auto code = host::detail::Enter("CoInitialize"))
        return Injected(*code);
    return initializations++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    host::detail::Enter("CoUninitialize");
    if (initializations > 0)
        --initializations;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (auto code = host::detail::Enter("CoCreateInstance"))
        return Injected(*code);
    if (initializations == 0)
        return CO_E_NOTINITIALIZED;
    if (!(clsid == CLSID_Registrar) || !(context & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    if (!(iid == IID_IUnknown) && !(iid == IID_IRegistrar))
        return E_NOINTERFACE;
    *object = static_cast<IRegistrar*>(new Registrar);
    return S_OK;
}

HRESULT OleRun(IUnknown* object) {
    if (auto code = host::detail::Enter("OleRun"))
        return Injected(*code);
    // An in-process object without IRunnableObject is running already.
    return object ? S_OK : E_INVALIDARG;
}
