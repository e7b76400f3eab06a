// Registers the event source by running the registry script carried as resource
// "REGISTRY" 101 through the platform's registrar.
#include <cwchar>

#include "install/install.h"

namespace {

constexpr UINT registryScript = 101;

void Check(HRESULT result) {
    if (FAILED(result))
        throw result;
}

// True when the last four characters are ".EXE", ignoring the case of A to Z.
bool EndsInExe(const WCHAR* path, size_t length) {
    const WCHAR extension[] = L".EXE";
    if (length < 4)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        WCHAR c = path[length - 4 + i];
        if (c >= L'a' && c <= L'z')
            c = static_cast<WCHAR>(c - L'a' + L'A');
        if (c != extension[i])
            return false;
    }
    return true;
}

} // namespace

void UpdateEventSourceRegistration(bool registerSource) {
    CoInitialize(nullptr);
    IRegistrar* registrar = nullptr;
    try {
        IUnknown* unknown = nullptr;
        Check(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                               IID_IUnknown, reinterpret_cast<void**>(&unknown)));
        HRESULT result = OleRun(unknown);
        if (SUCCEEDED(result))
            result = unknown->QueryInterface(IID_IRegistrar, reinterpret_cast<void**>(&registrar));
        unknown->Release();
        if (FAILED(result))
            registrar = nullptr;
        Check(result);

        WCHAR modulePath[MAX_PATH];
        if (GetModuleFileNameW(nullptr, modulePath, MAX_PATH) == 0)
            throw E_FAIL;
        // Older systems leave a path that fills the buffer unterminated.
        modulePath[MAX_PATH - 1] = L'\0';

        WCHAR messageFile[MAX_PATH];
        std::wcscpy(messageFile, modulePath);
        size_t length = std::wcslen(messageFile);
        if (!EndsInExe(messageFile, length))
            throw E_FAIL;
        std::wcscpy(messageFile + length - 4, L".DLL");

        registrar->AddReplacement(L"DLLNAME", messageFile);
        if (registerSource)
            Check(registrar->ResourceRegister(modulePath, registryScript, L"REGISTRY"));
        else
            Check(registrar->ResourceUnregister(modulePath, registryScript, L"REGISTRY"));
    } catch (HRESULT) {
        // Silent: the caller has already said what it did to the service.
    }
    if (registrar)
        registrar->Release();
    CoUninitialize();
}
