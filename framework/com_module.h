// The in-process COM server's module: the object map, the module lock count that answers
// DllCanUnloadNow, one generic class factory per class, created on first request and cached
// by the module, the registration of the map's classes from their registrar scripts, and the
// lock that the module's own nested message loops hold.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "framework/registrar.h"
#include "framework/unique_handle.h"

#include <memory>

using CreateInstanceFn = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);

struct ObjectMapEntry {
    const CLSID* clsid;
    CreateInstanceFn createInstance;  // supports aggregation when given an outer object
    UINT registryResourceId;          // the class's registration script
};

class ComModule {
public:
    ComModule() = default;
    ComModule(const ComModule&) = delete;
    ComModule& operator=(const ComModule&) = delete;

    void Init(const ObjectMapEntry* map, size_t entries, HINSTANCE instance);
    // Releases the cached class factories.
    void Term();

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object);
    HRESULT CanUnloadNow() const { return m_lockCount == 0 ? S_OK : S_FALSE; }

    // Runs every map entry's registrar script forwards or backwards, in map order, with the
    // module's full path as "Module" and "Module_Raw" and an empty "APPID"; entries with no
    // script (id 0) are passed over. The first failure ends the run and is its result.
    HRESULT RegisterServer();
    HRESULT UnregisterServer();

    LONG Lock() { return ::InterlockedIncrement(&m_lockCount); }
    LONG Unlock() { return ::InterlockedDecrement(&m_lockCount); }
    LONG LockCount() const { return m_lockCount; }

    HINSTANCE Instance() const { return m_instance; }
    const ObjectMapEntry* Map() const { return m_map; }
    size_t MapSize() const { return m_entries; }

private:
    HRESULT UpdateRegistry(RegistrarAction action);

    const ObjectMapEntry* m_map = nullptr;
    size_t m_entries = 0;
    HINSTANCE m_instance = nullptr;
    std::unique_ptr<com_ptr<IClassFactory>[]> m_factories;  // one slot per map entry
    volatile LONG m_lockCount = 0;
};

// The module of this server.
ComModule& Module();

// Holds a module lock for as long as it lives. The module's own nested message loops (a
// tracked menu, a modal dialog, a message box) hold one: while they run, the module's code is
// on the stack, and a host that releases its last object from inside such a loop and asks
// DllCanUnloadNow must hear S_FALSE, not free the DLL under the loop.
class ModuleLock {
public:
    explicit ModuleLock(ComModule& module = Module()) noexcept : m_module(module) { m_module.Lock(); }
    ~ModuleLock() { m_module.Unlock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;

private:
    ComModule& m_module;
};
