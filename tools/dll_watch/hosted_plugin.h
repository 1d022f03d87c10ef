// One UI plug-in hosted from its DLL as the player hosts it, on one thread in a single-threaded
// apartment: the DLL loaded through DllWatch, so that its start-up is seen; its COM exports; the
// class factory and the plug-in object; the core handed to the object and taken back; and the
// let-go in the player's order (the core taken back, the object released, then the factory,
// then the DLL unloaded, and only then the core let go). The tests of the built DLL and the
// player simulator host it through this one class.
#pragma once

#include "framework/unique_handle.h"
#include "plugin/player_interface.h"
#include "tools/dll_watch/dll_watch.h"

#include <memory>
#include <string>
#include <utility>

class HostedPlugin {
public:
    using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

    // The DLL at path (a Windows path), watched from before its entry point runs, with this
    // thread's apartment started for as long as the host lives; null when DllWatch::Load refuses
    // it.
    static std::unique_ptr<HostedPlugin> Load(const std::string& path, const DllWatchOptions& options = {});

    HostedPlugin(const HostedPlugin&) = delete;
    HostedPlugin& operator=(const HostedPlugin&) = delete;
    // Unload, then the apartment ends.
    ~HostedPlugin();

    DllWatch& Watch() const { return *m_watch; }
    // Null once unloaded.
    HMODULE Module() const { return m_watch->Module(); }

    // The DLL's exports; null where it has none of the name, and once it is unloaded.
    GetClassObjectFunction ClassObjectExport() const;
    CanUnloadNowFunction CanUnloadNowExport() const;
    // DllCanUnloadNow's answer; E_NOTIMPL without the export.
    HRESULT CanUnloadNow() const;

    // As the player makes an unregistered plug-in: the class factory from the DLL's own export,
    // held until ReleaseFactory, and one object from it. The answer of the step that failed, or
    // of the last; E_NOINTERFACE without the export.
    HRESULT CreateFromFactory(REFCLSID classId);
    // As the player makes a registered one: COM loads the DLL that the class registration names,
    // which is the watched one when the paths agree.
    HRESULT CreateThroughCom(REFCLSID classId);
    // Whether the object's table of operations lies in the watched module, and not in a second
    // copy that COM loaded from elsewhere, whose calls would go unseen.
    bool ObjectFromWatchedModule() const;

    IWMPPluginUI* Plugin() const { return m_plugin.get(); }
    IClassFactory* Factory() const { return m_factory.get(); }

    // SetCore on the object, the core held by the host until the DLL is unloaded, as the player's
    // core outlives its plug-ins; E_POINTER when there is no object.
    HRESULT HandCore(IWMPCore* core);
    // SetCore(nullptr) on the object; E_POINTER when there is none.
    HRESULT TakeCore();
    void ReleasePlugin() { m_plugin.reset(); }
    void ReleaseFactory() { m_factory.reset(); }

    // Takes the core back from an object still held, releases it and the factory, unloads the
    // DLL and lets the core go. True when the module is gone from the process afterwards.
    bool Unload();
    // A player's tidy-up at any moment: COM's own for the DLLs it loaded, and COM's step by hand
    // for this one, which the host loaded itself: DllCanUnloadNow, and the unload on S_OK. The
    // DLL's answer.
    HRESULT UnloadIfUnused();

private:
    HostedPlugin(bool comStarted, std::unique_ptr<DllWatch> watch)
        : m_comStarted(comStarted), m_watch(std::move(watch))
    {
    }

    void ReleaseObjects();
    bool FreeDll();

    bool m_comStarted;
    std::unique_ptr<DllWatch> m_watch;
    bool m_throughCom = false;
    com_ptr<IWMPCore> m_core;
    com_ptr<IClassFactory> m_factory;
    com_ptr<IWMPPluginUI> m_plugin;
};
