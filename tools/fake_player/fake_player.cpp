// The injected results and call counts shared by the fake core and media, and the text
// answer they share.
#include "tools/fake_player/fake_internal.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <utility>

void PlayerCallScript::InjectResult(PlayerCall call, HRESULT result, InjectedAnswer answer)
{
    m_injections[static_cast<std::size_t>(call)] = Injection{true, result, answer};
}

void PlayerCallScript::InjectEveryResult(HRESULT result, InjectedAnswer answer)
{
    m_injections.fill(Injection{true, result, answer});
}

void PlayerCallScript::InjectOnceOwnerIsGone(HRESULT result, InjectedAnswer answer)
{
    m_orphanInjection = Injection{true, result, answer};
}

void PlayerCallScript::OnNextCall(PlayerCall call, std::function<void()> hook)
{
    m_hooks[static_cast<std::size_t>(call)] = std::move(hook);
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

PlayerCallScript::Answer PlayerCallScript::Intercept(PlayerCall call, HRESULT& result)
{
    const std::size_t slot = static_cast<std::size_t>(call);
    // Taken out first: the hook may set the next one.
    if (std::function<void()> hook = std::move(m_hooks[slot])) {
        m_hooks[slot] = nullptr;
        hook();
    }
    ++m_counts[slot];
    const bool orphaned = m_ownerAlive && !*m_ownerAlive && m_orphanInjection.active;
    const Injection& injection = orphaned ? m_orphanInjection : m_injections[slot];
    if (!injection.active) {
        result = S_OK;
        return Answer::Normal;
    }
    result = injection.result;
    switch (injection.answer) {
    case InjectedAnswer::Given:
        return Answer::Normal;
    case InjectedAnswer::Withheld:
        return Answer::Empty;
    case InjectedAnswer::Junk:
        // Junk only means something beside a failure: a success's out-values are the caller's.
        return FAILED(injection.result) ? Answer::Junk : Answer::Normal;
    case InjectedAnswer::ByResult:
        break;
    }
    return FAILED(injection.result) ? Answer::Empty : Answer::Normal;
}

HRESULT AnswerText(const std::optional<std::wstring>& text, BSTR* out, HRESULT result)
{
    *out = nullptr;
    if (!text)
        return result;
    *out = ::SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
    return *out ? result : E_OUTOFMEMORY;
}

BSTR JunkText(const wchar_t* wanted)
{
    // A length prefix and the characters, as a BSTR is laid out; a few texts, kept for good.
    struct Buffer {
        UINT bytes;
        wchar_t text[16];
    };
    static Buffer buffers[4];
    static std::size_t used = 0;
    const std::size_t length = std::min<std::size_t>(std::wcslen(wanted), 15);
    for (std::size_t i = 0; i < used; ++i) {
        if (buffers[i].bytes == length * sizeof(wchar_t) && std::wmemcmp(buffers[i].text, wanted, length) == 0)
            return buffers[i].text;
    }
    Buffer& buffer = buffers[used < std::size(buffers) ? used++ : std::size(buffers) - 1];
    buffer.bytes = static_cast<UINT>(length * sizeof(wchar_t));
    std::wmemcpy(buffer.text, wanted, length);
    buffer.text[length] = L'\0';
    return buffer.text;
}
