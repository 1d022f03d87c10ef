// Helpers shared by the fake player's objects; not part of its public interface.
#pragma once

#include "tools/fake_player/fake_player.h"

// Hands out a scripted text as the player does: a fresh BSTR the caller frees, or null when the
// text is absent. Returns result, or E_OUTOFMEMORY when the copy cannot be made.
HRESULT AnswerText(const std::optional<std::wstring>& text, BSTR* out, HRESULT result);

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
