// The COM plumbing the fake player's objects share: reference counts, QueryInterface from a
// list of answered interfaces, and the base of the fakes whose primary interface is a dual one
// (IWMPCore, IWMPMedia) that nobody drives through IDispatch.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <algorithm>
#include <initializer_list>
#include <type_traits>

// QueryInterface of an object that is `as` under each of the answered interfaces and nothing
// else.
template <typename Interface>
HRESULT AnswerQuery(REFIID iid, void** object, Interface* as, std::initializer_list<IID> answered)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (std::find(answered.begin(), answered.end(), iid) == answered.end())
        return E_NOINTERFACE;
    *object = as;
    as->AddRef();
    return S_OK;
}

// The reference counts of the fakes, as the player's own objects keep theirs: the count after
// the change; the last release runs destroy.
inline ULONG AddReference(LONG& refs)
{
    return static_cast<ULONG>(::InterlockedIncrement(&refs));
}

template <typename Destroy>
ULONG ReleaseReference(LONG& refs, Destroy destroy)
{
    const LONG left = ::InterlockedDecrement(&refs);
    if (left == 0)
        destroy();
    return static_cast<ULONG>(left);
}

// A fake that is Primary (a dual interface) and Others: IUnknown for all of them, counting its
// references and the objects of its kind alive in the process; QueryInterface answers
// IUnknown, IDispatch and Primary with Primary (a Derived that answers more interfaces
// answers those first and leaves the rest to this one); IDispatch is not implemented.
// Derived is the final class: its last Release deletes it (make this base a friend when its
// destructor is private).
template <typename Derived, typename Primary, typename... Others>
class FakeDispatchObject : public Primary, public Others... {
    static_assert(std::is_base_of_v<IDispatch, Primary>, "the primary interface is a dual one");

public:
    ULONG RefCount() const { return static_cast<ULONG>(m_refs); }
    // The objects of this kind alive in the process, to catch leaked or over-released ones.
    static LONG LiveObjects() { return s_live; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        return AnswerQuery(iid, object, static_cast<Primary*>(this),
                           {__uuidof(IUnknown), __uuidof(IDispatch), __uuidof(Primary)});
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return ReleaseReference(m_refs, [this] { delete static_cast<Derived*>(this); });
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                     EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

protected:
    FakeDispatchObject() { ::InterlockedIncrement(&s_live); }
    ~FakeDispatchObject() { ::InterlockedDecrement(&s_live); }

private:
    LONG m_refs = 0;
    static inline LONG s_live = 0;
};
