// FakeMedia: a media item whose attributes, source URL and attribute count are scripted.
#include "tools/fake_player/fake_internal.h"

#include <cwchar>
#include <new>
#include <utility>

namespace {

LONG g_liveMedia = 0;

const wchar_t kMediaTypeName[] = L"MediaType";
// What failing calls leave in their out-values when told to leave junk.
const wchar_t kJunkWord[] = L"JUNK";
constexpr LONG kJunkCount = 3;

}  // namespace

FakeMedia::FakeMedia()
{
    ::InterlockedIncrement(&g_liveMedia);
}

FakeMedia::~FakeMedia()
{
    ::InterlockedDecrement(&g_liveMedia);
}

LONG FakeMedia::LiveObjects()
{
    return g_liveMedia;
}

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

HRESULT STDMETHODCALLTYPE FakeMedia::QueryInterface(REFIID iid, void** object)
{
    return AnswerQuery(iid, object, static_cast<IWMPMedia*>(this),
                       {__uuidof(IUnknown), __uuidof(IDispatch), __uuidof(IWMPMedia)});
}

ULONG STDMETHODCALLTYPE FakeMedia::AddRef()
{
    return AddReference(m_refs);
}

ULONG STDMETHODCALLTYPE FakeMedia::Release()
{
    return ReleaseReference(m_refs, [this] { delete this; });
}

HRESULT STDMETHODCALLTYPE FakeMedia::get_sourceURL(BSTR* url)
{
    const com_ptr<FakeMedia> keepAlive(this);
    HRESULT result;
    if (EndIntercepted<BSTR>(Intercept(PlayerCall::GetSourceUrl, result), url, nullptr, JunkText(kJunkWord)))
        return result;
    if (!url)
        return E_POINTER;
    return AnswerText(m_sourceUrl, url, result);
}

HRESULT STDMETHODCALLTYPE FakeMedia::get_attributeCount(LONG* count)
{
    const com_ptr<FakeMedia> keepAlive(this);
    HRESULT result;
    if (EndIntercepted<LONG>(Intercept(PlayerCall::GetAttributeCount, result), count, 0, kJunkCount))
        return result;
    if (!count)
        return E_POINTER;
    *count = m_attributeCount.value_or(static_cast<LONG>(m_attributes.size()));
    return result;
}

HRESULT STDMETHODCALLTYPE FakeMedia::getAttributeName(LONG index, BSTR* name)
{
    const com_ptr<FakeMedia> keepAlive(this);
    HRESULT result;
    // A name the capture looks for: believed, it would read that attribute's value.
    if (EndIntercepted<BSTR>(Intercept(PlayerCall::GetAttributeName, result), name, nullptr, JunkText(L"Title")))
        return result;
    if (!name)
        return E_POINTER;
    *name = nullptr;
    if (index < 0 || static_cast<std::size_t>(index) >= m_attributes.size())
        return E_INVALIDARG;
    return AnswerText(m_attributes[static_cast<std::size_t>(index)].name, name, result);
}

HRESULT STDMETHODCALLTYPE FakeMedia::getItemInfo(BSTR name, BSTR* value)
{
    const com_ptr<FakeMedia> keepAlive(this);
    HRESULT result;
    // Believed, a junk media type makes any item a song.
    const bool askedForType = name && std::wcscmp(name, kMediaTypeName) == 0;
    if (EndIntercepted<BSTR>(Intercept(PlayerCall::GetItemInfo, result), value, nullptr,
                             JunkText(askedForType ? L"audio" : kJunkWord)))
        return result;
    if (!value)
        return E_POINTER;
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

HRESULT STDMETHODCALLTYPE FakeMedia::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeMedia::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE FakeMedia::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                            EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}
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
