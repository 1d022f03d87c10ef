// FakeMedia: a media item whose attributes, source URL and attribute count are scripted.
#include "tools/fake_player/fake_internal.h"

#include <cwchar>
#include <new>
#include <utility>

namespace {

const wchar_t kMediaTypeName[] = L"MediaType";
// What failing calls leave in their out-values when told to leave junk.
const wchar_t kJunkWord[] = L"JUNK";
constexpr LONG kJunkCount = 3;

}  // namespace

com_ptr<FakeMedia> FakeMedia::Create()
{
    return com_ptr<FakeMedia>(new (std::nothrow) FakeMedia);
}

com_ptr<FakeMedia> FakeMedia::Create(std::vector<FakeAttribute> attributes,
                                     std::optional<std::wstring> mediaType,
                                     std::optional<std::wstring> sourceUrl)
{
    com_ptr<FakeMedia> media = Create();
    if (!media)
        return media;
    if (mediaType)
        attributes.push_back(FakeAttribute{kMediaTypeName, std::move(mediaType)});
    media->SetAttributes(std::move(attributes));
    media->SetSourceUrl(std::move(sourceUrl));
    return media;
}

void FakeMedia::SetAttributes(std::vector<FakeAttribute> attributes)
{
    m_attributes = std::move(attributes);
}

void FakeMedia::AddAttribute(std::optional<std::wstring> name, std::optional<std::wstring> value)
{
    m_attributes.push_back(FakeAttribute{std::move(name), std::move(value)});
}

void FakeMedia::OverrideAttributeCount(std::optional<LONG> count)
{
    m_attributeCount = count;
}

void FakeMedia::SetSourceUrl(std::optional<std::wstring> url)
{
    m_sourceUrl = std::move(url);
}

HRESULT STDMETHODCALLTYPE FakeMedia::get_sourceURL(BSTR* url)
{
    return Scripted(this, PlayerCall::GetSourceUrl, url, [] { return JunkText(kJunkWord); },
                    [this, url](HRESULT result) { return AnswerText(m_sourceUrl, url, result); });
}

HRESULT STDMETHODCALLTYPE FakeMedia::get_attributeCount(LONG* count)
{
    return Scripted(this, PlayerCall::GetAttributeCount, count, [] { return kJunkCount; },
                    [this, count](HRESULT result) {
                        *count = m_attributeCount.value_or(static_cast<LONG>(m_attributes.size()));
                        return result;
                    });
}

HRESULT STDMETHODCALLTYPE FakeMedia::getAttributeName(LONG index, BSTR* name)
{
    // A name the capture looks for: believed, it would read that attribute's value.
    return Scripted(this, PlayerCall::GetAttributeName, name, [] { return JunkText(L"Title"); },
                    [this, index, name](HRESULT result) {
                        *name = nullptr;
                        if (index < 0 || static_cast<std::size_t>(index) >= m_attributes.size())
                            return E_INVALIDARG;
                        return AnswerText(m_attributes[static_cast<std::size_t>(index)].name, name, result);
                    });
}

HRESULT STDMETHODCALLTYPE FakeMedia::getItemInfo(BSTR name, BSTR* value)
{
    // Believed, a junk media type makes any item a song.
    const bool askedForType = name && std::wcscmp(name, kMediaTypeName) == 0;
    return Scripted(this, PlayerCall::GetItemInfo, value,
                    [askedForType] { return JunkText(askedForType ? L"audio" : kJunkWord); },
                    [this, name, value](HRESULT result) { return AnswerItemInfo(name, value, result); });
}

HRESULT FakeMedia::AnswerItemInfo(BSTR name, BSTR* value, HRESULT result) const
{
    *value = nullptr;
    if (!name)
        return result;
    // Read as a terminated string, as the player does, so a caller's plain wide string works.
    for (const FakeAttribute& attribute : m_attributes) {
        if (attribute.name && std::wcscmp(attribute.name->c_str(), name) == 0)
            return AnswerText(attribute.value, value, result);
    }
    return result;
}

// Everything below is player surface that the plug-in never calls.

HRESULT STDMETHODCALLTYPE FakeMedia::get_isIdentical(IWMPMedia*, VARIANT_BOOL*)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE FakeMedia::get_name(BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::put_name(BSTR) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::get_imageSourceWidth(LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::get_imageSourceHeight(LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::get_markerCount(LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::getMarkerTime(LONG, double*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::getMarkerName(LONG, BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::get_duration(double*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::get_durationString(BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::setItemInfo(BSTR, BSTR) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::getItemInfoByAtom(LONG, BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::isMemberOf(IWMPPlaylist*, VARIANT_BOOL*)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE FakeMedia::isReadOnlyItem(BSTR, VARIANT_BOOL*) { return E_NOTIMPL; }
