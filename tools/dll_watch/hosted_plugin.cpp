// Hosting the plug-in's DLL: the exports looked up in the watched module, the object made
// through the DLL's factory or through COM, and the let-go in the order the player keeps.
#include "tools/dll_watch/hosted_plugin.h"

std::unique_ptr<HostedPlugin> HostedPlugin::Load(const std::string& path, const DllWatchOptions& options)
{
    // Started before the load, as the player's is; a thread in another model keeps its own.
    const bool comStarted = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    std::unique_ptr<DllWatch> watch = DllWatch::Load(path, options);
    if (!watch) {
        if (comStarted)
            ::CoUninitialize();
        return nullptr;
    }
    return std::unique_ptr<HostedPlugin>(new HostedPlugin(comStarted, std::move(watch)));
}

HostedPlugin::~HostedPlugin()
{
    Unload();
    if (m_comStarted)
        ::CoUninitialize();
}

HostedPlugin::GetClassObjectFunction HostedPlugin::ClassObjectExport() const
{
    // Without the module, GetProcAddress would search the host's own image.
    const HMODULE module = Module();
    return module ? reinterpret_cast<GetClassObjectFunction>(::GetProcAddress(module, "DllGetClassObject")) : nullptr;
}

HostedPlugin::CanUnloadNowFunction HostedPlugin::CanUnloadNowExport() const
{
    const HMODULE module = Module();
    return module ? reinterpret_cast<CanUnloadNowFunction>(::GetProcAddress(module, "DllCanUnloadNow")) : nullptr;
}

HRESULT HostedPlugin::CanUnloadNow() const
{
    const CanUnloadNowFunction canUnloadNow = CanUnloadNowExport();
    return canUnloadNow ? canUnloadNow() : E_NOTIMPL;
}

HRESULT HostedPlugin::CreateFromFactory(REFCLSID classId)
{
    const GetClassObjectFunction getClassObject = ClassObjectExport();
    if (!getClassObject)
        return E_NOINTERFACE;
    const HRESULT hr = getClassObject(classId, IID_IClassFactory, m_factory.put_void());
    if (FAILED(hr))
        return hr;
    return m_factory->CreateInstance(nullptr, __uuidof(IWMPPluginUI), m_plugin.put_void());
}

HRESULT HostedPlugin::CreateThroughCom(REFCLSID classId)
{
    // Even a failed try may leave COM holding a load of its own, to be let go at the unload.
    m_throughCom = true;
    return ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWMPPluginUI), m_plugin.put_void());
}

bool HostedPlugin::ObjectFromWatchedModule() const
{
    if (!m_plugin)
        return false;
    HMODULE origin = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         *reinterpret_cast<LPCSTR*>(m_plugin.get()), &origin);
    return origin != nullptr && origin == Module();
}

HRESULT HostedPlugin::HandCore(IWMPCore* core)
{
    if (!m_plugin)
        return E_POINTER;
    m_core = com_ptr<IWMPCore>(core);
    return m_plugin->SetCore(core);
}

HRESULT HostedPlugin::TakeCore()
{
    return m_plugin ? m_plugin->SetCore(nullptr) : E_POINTER;
}

void HostedPlugin::ReleaseObjects()
{
    if (m_plugin)
        m_plugin->SetCore(nullptr);
    m_plugin.reset();
    m_factory.reset();
}

bool HostedPlugin::Unload()
{
    ReleaseObjects();
    // COM keeps the DLLs it loaded until asked to let go of the unused ones.
    if (m_throughCom && Module())
        ::CoFreeUnusedLibrariesEx(0, 0);
    return FreeDll();
}

HRESULT HostedPlugin::UnloadIfUnused()
{
    ::CoFreeUnusedLibrariesEx(0, 0);
    const HRESULT answer = CanUnloadNow();
    if (answer == S_OK)
        FreeDll();
    return answer;
}

bool HostedPlugin::FreeDll()
{
    const bool gone = m_watch->Unload();
    m_core.reset();
    return gone;
}
