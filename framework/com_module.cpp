// The module, its lock count, the generic class factory and the registration of its classes.
#include "framework/com_module.h"

#include "framework/boundary.h"

#include <new>
#include <string>

namespace {

// The module keeps one reference to each factory it created; anybody else holding the factory
// keeps the module loaded, as does every outstanding LockServer(TRUE).
class ClassFactory final : public IClassFactory {
public:
    ClassFactory(ComModule& module, CreateInstanceFn create) : m_module(module), m_create(create) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override
    {
        const LONG count = ::InterlockedIncrement(&m_refs);
        if (count == 2)
            m_module.Lock();
        return static_cast<ULONG>(count);
    }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG count = ::InterlockedDecrement(&m_refs);
        if (count == 1)
            m_module.Unlock();
        else if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        // An aggregate hands its inner object nothing but its own IUnknown.
        if (outer != nullptr && iid != IID_IUnknown)
            return CLASS_E_NOAGGREGATION;
        // COM's caller is below: a creator that throws has made no object.
        return HresultAtBoundary([&] { return m_create(outer, iid, object); });
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            m_module.Lock();
        else
            m_module.Unlock();
        return S_OK;
    }

private:
    ~ClassFactory() = default;

    ComModule& m_module;
    CreateInstanceFn m_create;
    volatile LONG m_refs = 0;
};

}  // namespace

void ComModule::Init(const ObjectMapEntry* map, size_t entries, HINSTANCE instance)
{
    Term();
    m_map = map;
    m_entries = entries;
    m_instance = instance;
    m_factories.reset(new (std::nothrow) com_ptr<IClassFactory>[entries]);
}

void ComModule::Term()
{
    m_factories.reset();
    m_map = nullptr;
    m_entries = 0;
}

HRESULT ComModule::GetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    for (size_t i = 0; i < m_entries; ++i) {
        if (*m_map[i].clsid != clsid)
            continue;
        if (m_factories == nullptr)
            return E_OUTOFMEMORY;
        if (!m_factories[i]) {
            auto* factory = new (std::nothrow) ClassFactory(*this, m_map[i].createInstance);
            if (factory == nullptr)
                return E_OUTOFMEMORY;
            // The module's own reference: the factory lives until Term.
            m_factories[i] = com_ptr<IClassFactory>(factory);
        }
        return m_factories[i]->QueryInterface(iid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ComModule::RegisterServer()
{
    return UpdateRegistry(RegistrarAction::Register);
}

HRESULT ComModule::UnregisterServer()
{
    return UpdateRegistry(RegistrarAction::Unregister);
}

HRESULT ComModule::UpdateRegistry(RegistrarAction action)
{
    // Before Init there is no module to name: a null instance would name the executable.
    if (m_instance == nullptr)
        return E_UNEXPECTED;
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(m_instance, path, MAX_PATH);
    if (length == 0) {
        const DWORD error = ::GetLastError();
        return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
    }
    // A path that fills the whole buffer has been cut short.
    if (length >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    // Only an executable server's path would be quoted.
    const std::string module(path, length);
    const ReplaceableParameters parameters{{"Module", module}, {"Module_Raw", module}, {"APPID", ""}};
    for (size_t i = 0; i < m_entries; ++i) {
        if (m_map[i].registryResourceId == 0)
            continue;
        const HRESULT hr = RunRegistrarResource(m_instance, m_map[i].registryResourceId, parameters, action);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

ComModule& Module()
{
    static ComModule module;
    return module;
}
