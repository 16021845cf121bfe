#pragma once
// CQVssProviderModule: the DLL's module object. It knows where the DLL was
// loaded from and counts what keeps it loaded: live provider objects, live
// class factories and the factory locks of IClassFactory::LockServer. Live
// async objects are counted by CVssAsync itself and asked for here.
//
// One static instance (Module()). Its counts are atomic: objects of the DLL
// live in whichever apartments created them, so locks come and go on several
// threads at once, and a lost update could let DllCanUnloadNow answer S_OK
// while an object is still alive.
#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <string>

class CQVssProviderModule {
  public:
    // Recorded by DllMain at process attach.
    void SetInstance(HINSTANCE instance) { m_instance = instance; }
    HINSTANCE Instance() const { return m_instance; }
    // The DLL's full path as the loader gave it; empty when it cannot be read.
    std::wstring ModulePath() const;

    // One lock per live provider object and class factory.
    void Lock() { ++m_locks; }
    void Unlock() { --m_locks; }
    // IClassFactory::LockServer. An unlock without a lock is ignored, so an
    // unbalanced client cannot make the DLL look unloadable while it is used.
    void LockServer(bool lock);
    long LockCount() const { return m_locks.load() + m_serverLocks.load(); }
    // S_OK when nothing keeps the DLL (no locks and no live async object),
    // S_FALSE otherwise.
    HRESULT CanUnloadNow() const;

  private:
    HINSTANCE m_instance = nullptr;
    std::atomic<long> m_locks{0};
    std::atomic<long> m_serverLocks{0};
};

CQVssProviderModule& Module();

// Holds one module lock for its lifetime; the first member of every COM object
// of the DLL, so the lock is released even when a later member's constructor
// throws.
class ModuleLock {
  public:
    ModuleLock() { Module().Lock(); }
    ~ModuleLock() { Module().Unlock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};
