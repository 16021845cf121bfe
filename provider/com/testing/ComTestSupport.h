#pragma once
// Support for the Windows tests of MarlVssProvider.dll (test-only target
// marl_com_testing). They run in a Wine prefix of their own
// (tests/run_in_own_prefix.sh), where the DLL sits in the installation folder.
#include <objbase.h>
#include <windows.h>

#include <string>

namespace marl::comtest {

// Where run_in_own_prefix.sh puts the DLL, and the folder the DLL reads its
// configuration from and writes its log to.
inline constexpr wchar_t kInstalledDll[] = L"C:\\Program Files\\Marl VSS\\MarlVssProvider.dll";
inline constexpr char kInstallFolder[] = "C:\\Program Files\\Marl VSS\\";

// "Z:\x\y" for the Unix path "/x/y" (how Wine shows the host's files).
std::wstring HostPath(const std::string& unixPath);

// Runs a command line and waits for it (bounded: 120 s); its exit code, or
// -1 when it could not start or did not finish.
long RunProgram(const std::wstring& commandLine);

// A value below HKEY_CLASSES_ROOT (or another root): true with the text of a
// REG_SZ value; `name` empty for the default value.
bool ReadText(HKEY root, const std::wstring& key, const std::wstring& name, std::wstring& value);
bool KeyExists(HKEY root, const std::wstring& key);

// Writes (or replaces) a file with exactly these bytes; false on failure.
bool WriteBytes(const std::string& path, const std::string& bytes);
bool ReadBytes(const std::string& path, std::string& bytes);

// COM on this thread (apartment threaded) for the life of the object.
class ComApartment {
  public:
    ComApartment() : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(m_hr)) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT Result() const { return m_hr; }

  private:
    HRESULT m_hr;
};

// The exports of a loaded DLL, called by name.
class ExportedServer {
  public:
    explicit ExportedServer(const std::wstring& path);
    ~ExportedServer();
    ExportedServer(const ExportedServer&) = delete;
    ExportedServer& operator=(const ExportedServer&) = delete;

    bool Loaded() const { return m_module != nullptr; }
    HRESULT RegisterServer() const;
    HRESULT UnregisterServer() const;
    HRESULT CanUnloadNow() const;
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const;
    // The same export called the way a C caller may, with null ids.
    HRESULT GetClassObjectFromC(const CLSID* clsid, const IID* iid, void** ppv) const;

  private:
    void* Export(const char* name) const;
    HMODULE m_module = nullptr;
};

}  // namespace marl::comtest
