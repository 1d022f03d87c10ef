// The poll: when the player plays an item whose artist and title differ from the last one
// looked up, capture it and hand it to the lookup.
#include "plugin/player_poll.h"

#include "framework/narrow_text.h"
#include "framework/unique_handle.h"
#include "plugin/ilyrics_lookup.h"
#include "plugin/tunelore_plugin.h"

#include <algorithm>
#include <iterator>

std::vector<TunelorePlugin*> g_livePlugins;
std::string g_lastTrackKey;
ILyricsLookup* g_lookup = nullptr;

namespace {

struct AttributeRow {
    const char* name;
    std::string Track::*field;
};

// Tried in this order for every attribute index. "Author" and "AlbumArtist" both fill the
// artist, so the one at the higher index wins.
const AttributeRow kAttributeTable[] = {
    {"Author", &Track::artist},
    {"Title", &Track::title},
    {"AlbumArtist", &Track::artist},
    {"WM/AlbumTitle", &Track::album},
    {"WM/Year", &Track::year},
    {"WM/TrackNumber", &Track::trackNumber},
    {"WM/Genre", &Track::genre},
};

// A real player reports a few dozen attributes. The bound only keeps a player that reports
// an absurd count from holding the user-interface thread in this loop for good.
constexpr long kMaxAttributeIndexes = 4096;

unique_bstr AllocBstr(const std::wstring& text)
{
    return unique_bstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

// A text the player handed out, owned from here on. Out-values of a failed call are not the
// caller's: a player may leave anything there, so they are neither read nor freed, and the
// text counts as absent.
unique_bstr TakeText(HRESULT result, BSTR text)
{
    return unique_bstr(SUCCEEDED(result) ? text : nullptr);
}

// Exact, case-sensitive text equality as the player's string type compares it; an absent
// text equals the empty text.
bool TextEquals(BSTR left, BSTR right)
{
    return ::VarBstrCmp(left, right, LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ);
}

}  // namespace

void PollPlayers()
{
    // The list may change while an object is polled, so its length is read at every step.
    for (size_t i = 0; i < g_livePlugins.size(); ++i)
        g_livePlugins[i]->Poll();
}

void TunelorePlugin::Poll()
{
    if (!m_spCore)
        return;

    WMPPlayState state = wmppsUndefined;
    // S_FALSE is no answer either: it neither stops nor starts anything.
    if (m_spCore->get_playState(&state) != S_OK)
        return;

    if (state != wmppsPlaying) {
        if (g_lookup)
            g_lookup->playbackStopped();
        g_lastTrackKey.clear();
        return;
    }

    Track track = CaptureTrack();
    std::string key = track.artist + track.title;
    if (key == g_lastTrackKey)
        return;

    // Stored before the lookup runs: a failed lookup is not repeated while the item plays.
    g_lastTrackKey = std::move(key);
    if (g_lookup)
        g_lookup->lookUp(track);
}

Track TunelorePlugin::CaptureTrack()
{
    Track track;

    // Out-values of failed calls are taken into their owners only after the call's result.
    IWMPMedia* current = nullptr;
    if (FAILED(m_spCore->get_currentMedia(&current)))
        return track;
    com_ptr<IWMPMedia> item;
    item.attach(current);
    if (!item)
        return track;

    const unique_bstr mediaTypeName = AllocBstr(L"MediaType");
    const unique_bstr audio = AllocBstr(L"audio");
    const unique_bstr radio = AllocBstr(L"radio");
    BSTR text = nullptr;
    HRESULT hr = item->getItemInfo(mediaTypeName.get(), &text);
    const unique_bstr mediaType = TakeText(hr, text);
    if (!TextEquals(mediaType.get(), audio.get()) && !TextEquals(mediaType.get(), radio.get()))
        return track;

    long count = 0;
    if (FAILED(item->get_attributeCount(&count)))
        return track;

    text = nullptr;
    hr = item->get_sourceURL(&text);
    const unique_bstr url = TakeText(hr, text);
    if (url)
        track.sourceUrl = NarrowFromWide(url.get());

    // The wanted names in the player's string type, made once per capture rather than once
    // per index and row: the tick runs this for every index while the player plays.
    unique_bstr names[std::size(kAttributeTable)];
    for (size_t row = 0; row < std::size(kAttributeTable); ++row)
        names[row] = AllocBstr(WideFromNarrow(kAttributeTable[row].name));

    const long indexes = std::min(count, kMaxAttributeIndexes);
    for (long index = 0; index < indexes; ++index) {
        for (size_t row = 0; row < std::size(kAttributeTable); ++row)
            ReadAttribute(item.get(), index, names[row].get(), track.*kAttributeTable[row].field);
    }
    return track;
}

void TunelorePlugin::ReadAttribute(IWMPMedia* item, long index, BSTR name, std::string& field)
{
    BSTR text = nullptr;
    HRESULT hr = item->getAttributeName(index, &text);
    const unique_bstr attributeName = TakeText(hr, text);
    if (!TextEquals(attributeName.get(), name))
        return;

    text = nullptr;
    hr = item->getItemInfo(name, &text);
    const unique_bstr value = TakeText(hr, text);
    // An empty value never clears what another index wrote.
    std::string narrow = NarrowFromWide(value.get());
    if (!narrow.empty())
        field = std::move(narrow);
}
