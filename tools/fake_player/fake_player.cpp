// The injected results and call counts shared by the fake core and media, and the text
// answer they share.
#include "tools/fake_player/fake_internal.h"

void PlayerCallScript::InjectResult(PlayerCall call, HRESULT result, InjectedAnswer answer)
{
    m_injections[static_cast<std::size_t>(call)] = Injection{true, result, answer};
}

void PlayerCallScript::ClearInjectedResult(PlayerCall call)
{
    m_injections[static_cast<std::size_t>(call)] = Injection{};
}

void PlayerCallScript::ClearInjectedResults()
{
    m_injections.fill(Injection{});
}

int PlayerCallScript::CallCount(PlayerCall call) const
{
    return m_counts[static_cast<std::size_t>(call)];
}

void PlayerCallScript::ResetCallCounts()
{
    m_counts.fill(0);
}

bool PlayerCallScript::Intercept(PlayerCall call, HRESULT& result)
{
    const std::size_t slot = static_cast<std::size_t>(call);
    ++m_counts[slot];
    const Injection& injection = m_injections[slot];
    if (!injection.active) {
        result = S_OK;
        return false;
    }
    result = injection.result;
    switch (injection.answer) {
    case InjectedAnswer::Given:
        return false;
    case InjectedAnswer::Withheld:
        return true;
    case InjectedAnswer::ByResult:
        break;
    }
    return FAILED(injection.result);
}

HRESULT AnswerText(const std::optional<std::wstring>& text, BSTR* out, HRESULT result)
{
    *out = nullptr;
    if (!text)
        return result;
    *out = ::SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
    return *out ? result : E_OUTOFMEMORY;
}
