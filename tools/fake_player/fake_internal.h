// Helpers shared by the fake player's objects; not part of its public interface.
#pragma once

#include "tools/fake_player/fake_player.h"

// Hands out a scripted text as the player does: a fresh BSTR the caller frees, or null when the
// text is absent. Returns result, or E_OUTOFMEMORY when the copy cannot be made.
HRESULT AnswerText(const std::optional<std::wstring>& text, BSTR* out, HRESULT result);

// Junk texts for failing calls: laid out as BSTRs, but owned by nobody, so a caller that frees
// one frees what was never allocated. Each says something that would change the capture if
// it were believed.
BSTR JunkText(const wchar_t* wanted);

template <typename Self, typename T, typename MakeJunk, typename Respond>
HRESULT PlayerCallScript::Scripted(Self* self, PlayerCall call, T* out, MakeJunk junk, Respond respond)
{
    // The hook may release the object.
    const com_ptr<Self> keepAlive(self);
    HRESULT result;
    const Answer answer = Intercept(call, result);
    if (answer != Answer::Normal) {
        if (out)
            *out = answer == Answer::Junk ? static_cast<T>(junk()) : T{};
        return result;
    }
    if (!out)
        return E_POINTER;
    return respond(result);
}

// The junk container and connection point of a failing QueryInterface or
// FindConnectionPoint. Owned by its core, never freed by a Release: every call on it, its
// references included, only counts as a touch and fails.
class JunkObject final : public IConnectionPointContainer, public IConnectionPoint {
public:
    int Touches() const { return m_touches; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        ++m_touches;
        if (object)
            *object = nullptr;
        return E_UNEXPECTED;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_touches, 1; }
    ULONG STDMETHODCALLTYPE Release() override { return ++m_touches, 1; }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return Touched(); }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint**) override { return Touched(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID*) override { return Touched(); }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer**) override
    {
        return Touched();
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown*, DWORD*) override { return Touched(); }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return Touched(); }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return Touched(); }

private:
    HRESULT Touched()
    {
        ++m_touches;
        return E_UNEXPECTED;
    }

    int m_touches = 0;
};

// The core's IWMPEvents connection point. It holds its core, as a real point keeps its
// container alive, and leaves the subscriptions to it.
class FakeEventsPoint final : public IConnectionPoint {
public:
    static com_ptr<FakeEventsPoint> Create(FakeCore* core);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(
        IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

private:
    explicit FakeEventsPoint(FakeCore* core) : m_core(core) {}
    ~FakeEventsPoint() = default;

    LONG m_refs = 0;
    com_ptr<FakeCore> m_core;
};
