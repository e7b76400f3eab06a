#include <fstream>

#include "installation.h"
#include "platform/platform.h"

namespace {

// One registrar, as the system gets it, for the length of a test.
class Registrar : public Installation {
protected:
    void SetUp() override {
        Installation::SetUp();
        CoInitialize(nullptr);
        ASSERT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                                   reinterpret_cast<void**>(&registrar)),
                  S_OK);
        registrar->AddReplacement(L"DLLNAME", L"C:\\Quarnel\\QuarnelSysLog.DLL");
    }
    void TearDown() override {
        registrar->Release();
        CoUninitialize();
        EXPECT_EQ(host::OpenHandles(), 0);
        Installation::TearDown();
    }
    IRegistrar* registrar = nullptr;
};

const std::string keepKey = "HKLM\\SOFTWARE\\Keep";

struct Script {
    const char* name;
    const wchar_t* text;
};

// Each would change Keep if it were applied even in part.
const Script malformed[] = {
    {"UnclosedBlock", L"HKLM { NoRemove SOFTWARE { ForceRemove Keep { val 'A' = s 'new' } }"},
    {"FaultAfterAWholeBlock",
     L"HKLM { NoRemove SOFTWARE { ForceRemove Keep { val 'A' = s 'new' } } } HKLM { Broken { val = s 'x' } }"},
    {"UnknownReplacement", L"HKLM { NoRemove SOFTWARE { ForceRemove Keep { val 'A' = s '%NOSUCH%' } } }"},
    {"UnclosedReplacement", L"HKLM { NoRemove SOFTWARE { ForceRemove Keep { val 'A' = s '%DLLNAME' } } }"},
    {"UnclosedQuote", L"HKLM { NoRemove SOFTWARE { ForceRemove Keep { val 'A' = s 'new } } }"},
    {"UnknownValueType", L"HKLM { NoRemove SOFTWARE { ForceRemove Keep { val 'A' = x 'new' } } }"},
    {"NumberNotDigits", L"HKLM { NoRemove SOFTWARE { ForceRemove Keep { val 'A' = d 'seven' } } }"},
    {"NumberTooLarge", L"HKLM { NoRemove SOFTWARE { ForceRemove Keep { val 'A' = d '4294967296' } } }"},
    {"ValueWithoutEquals", L"HKLM { NoRemove SOFTWARE { ForceRemove Keep { val 'A' s 'new' } } }"},
    {"UnknownRoot", L"HKEY_NOWHERE { NoRemove SOFTWARE { ForceRemove Keep } }"},
    {"ValueUnderARoot", L"HKLM { NoRemove SOFTWARE { ForceRemove Keep } val 'A' = s 'x' }"},
    {"PathAsKeyName", L"HKLM { ForceRemove 'SOFTWARE\\Keep' }"},
    {"StrayClose", L"HKLM { NoRemove SOFTWARE { ForceRemove Keep } } }"},
};

void PrintTo(const Script& s, std::ostream* os) { *os << s.name; }

class MalformedScript : public Registrar, public ::testing::WithParamInterface<Script> {};

} // namespace

TEST_P(MalformedScript, FailsAndChangesNothing) {
    host::SetRegistryValue(keepKey, "A", {REG_SZ, "old", 0});
    host::SetRegistryValue(keepKey + "\\Below", "B", {REG_DWORD, "", 2});
    std::string before = RegistrySnapshot();

    EXPECT_TRUE(FAILED(registrar->StringRegister(GetParam().text)));
    EXPECT_TRUE(FAILED(registrar->StringUnregister(GetParam().text)));
    EXPECT_EQ(RegistrySnapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedScript, ::testing::ValuesIn(malformed),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Registrar, AMissingScriptIsTheModuleLoadersError) {
    std::filesystem::path notAModule = folder / "notes.txt";
    std::ofstream(notAModule) << "HKLM { }";
    const std::pair<HRESULT, HRESULT> results[] = {
        {registrar->ResourceRegister(modulePath.wstring().c_str(), 102, L"REGISTRY"),
         HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND)},
        {registrar->ResourceRegister(modulePath.wstring().c_str(), 101, L"TYPELIB"),
         HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND)},
        {registrar->ResourceRegister((folder / "missing.exe").wstring().c_str(), 101, L"REGISTRY"),
         HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {registrar->ResourceRegister(notAModule.wstring().c_str(), 101, L"REGISTRY"), HRESULT_FROM_WIN32(193)},
    };
    for (const auto& [got, expected] : results)
        EXPECT_EQ(got, expected);
    EXPECT_EQ(RegistrySnapshot(), "");
}

TEST_F(Registrar, UnregisteringKeepsWhatTheScriptDidNotCreate) {
    host::SetRegistryValue("HKLM\\SOFTWARE\\Shared", "Theirs", {REG_SZ, "kept", 0});
    const wchar_t* script = L"HKEY_LOCAL_MACHINE\r\n"
                            L"{\r\n"
                            L"\tNoRemove SOFTWARE\r\n"
                            L"\t{\r\n"
                            L"\t\tQuarnel = s 'It''s 100%%'\r\n"
                            L"\t\t{\r\n"
                            L"\t\t\tval Path = s '%dllname%'\r\n"
                            L"\t\t\tval Mask = d '0xFF'\r\n"
                            L"\t\t}\r\n"
                            L"\t\tshared { val 'Ours' = d '1' }\r\n"
                            L"\t}\r\n"
                            L"}";
    ASSERT_EQ(registrar->StringRegister(script), S_OK);
    using Values = std::map<std::string, host::RegistryValue>;
    EXPECT_EQ(host::RegistryValues("HKLM\\SOFTWARE\\Quarnel"),
              (Values{{"", {REG_SZ, "It's 100%", 0}},
                      {"Path", {REG_SZ, "C:\\Quarnel\\QuarnelSysLog.DLL", 0}},
                      {"Mask", {REG_DWORD, "", 255}}}));
    EXPECT_EQ(host::RegistryValues("hklm\\software\\SHARED")->size(), 2u);

    ASSERT_EQ(registrar->StringUnregister(script), S_OK);
    EXPECT_EQ(host::RegistryValues("HKLM\\SOFTWARE\\Quarnel"), std::nullopt);
    EXPECT_EQ(host::RegistryValues("HKLM\\SOFTWARE\\Shared"), (Values{{"Theirs", {REG_SZ, "kept", 0}}}));
    EXPECT_EQ(host::RegistrySubkeys("HKLM\\SOFTWARE"), std::vector<std::string>{"Shared"});
}
