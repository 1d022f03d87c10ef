// The poll: when the player plays an item whose artist and title differ from the last one
// looked up, capture it and hand it to the lookup.
#include "plugin/player_poll.h"

#include "framework/bstr_compare.h"
#include "framework/narrow_text.h"
#include "framework/unique_handle.h"
#include "lookup/ilyrics_lookup.h"
#include "plugin/tunelore_plugin.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <optional>
#include <string>

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
constexpr AttributeRow kAttributeTable[] = {
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

unique_bstr BstrFromAscii(const char* text)
{
    const UINT length = static_cast<UINT>(std::strlen(text));
    unique_bstr bstr(::SysAllocStringLen(nullptr, length));
    if (bstr) {
        for (UINT i = 0; i < length; ++i)
            bstr.get()[i] = static_cast<unsigned char>(text[i]);
    }
    return bstr;
}

// The texts the capture hands to the player or compares with, in the player's string type:
// made on the first capture and kept until the module unloads.
struct CaptureNames {
    CaptureNames() : mediaType(BstrFromAscii("MediaType")), audio(BstrFromAscii("audio")), radio(BstrFromAscii("radio"))
    {
        for (size_t row = 0; row < std::size(kAttributeTable); ++row)
            rows[row] = BstrFromAscii(kAttributeTable[row].name);
    }

    bool Complete() const
    {
        return mediaType && audio && radio &&
               std::all_of(std::begin(rows), std::end(rows), [](const unique_bstr& name) { return bool(name); });
    }

    unique_bstr mediaType;
    unique_bstr audio;
    unique_bstr radio;
    unique_bstr rows[std::size(kAttributeTable)];
};

// Null while they cannot all be made; the next capture tries again.
const CaptureNames* Names()
{
    static CaptureNames names;
    if (!names.Complete())
        names = CaptureNames();
    return names.Complete() ? &names : nullptr;
}

// The poll's record and one value of it, kept from tick to tick for their storage only. Not
// members: a player that lets go of the object inside one of its calls must not leave the
// capture writing into freed memory.
Track g_capture;
std::string g_value;

// The answers for the names an item reported at each index on earlier ticks: an item plays for
// minutes, and its names stay. Comparing a name with the one remembered costs a few word
// compares, where settling it again means reading it character by character. The answers the
// OLE comparison gave hold for one user locale only; the certain ones hold for any.
class NameAnswers {
public:
    // Once per capture: the locale is read only if an OLE answer is needed.
    void StartCapture() { m_localeChecked = false; }

    // wanted is one of the table's names, which are all plain.
    bool Equals(long index, size_t row, BSTR name, BSTR wanted)
    {
        const UINT length = bstr_compare_detail::Length(name);
        const auto at = static_cast<size_t>(index);
        const unsigned bit = 1u << row;
        if (at < m_entries.size()) {
            const Entry& entry = m_entries[at];
            if ((entry.known & bit) && entry.Holds(name, length) && ((entry.certain & bit) || LocaleUnchanged()))
                return (entry.equal & bit) != 0;
        }
        if (const std::optional<bool> certain = CertainBstrEquality(name, wanted, true)) {
            Remember(at, bit, name, length, *certain, true);
            return *certain;
        }
        // The entries may have gone with a change of locale; only this answer is needed now.
        LocaleUnchanged();
        const bool equal = OleBstrEquals(name, wanted);
        Remember(at, bit, name, length, equal, false);
        return equal;
    }

private:
    static constexpr UINT kLongestRememberedName = 32;
    // A player that reports thousands of attributes keeps its later ones unremembered.
    static constexpr size_t kRememberedIndexes = 256;

    struct Entry {
        // The same text, compared eight bytes at a time; the last eight are read where the
        // texts end, so that nothing past either is read.
        bool Holds(const wchar_t* text, UINT textLength) const
        {
            if (length != textLength)
                return false;
            const size_t bytes = textLength * sizeof(wchar_t);
            if (bytes < sizeof(std::uint64_t)) {
                for (UINT i = 0; i < textLength; ++i) {
                    if (name[i] != text[i])
                        return false;
                }
                return true;
            }
            const auto* mine = reinterpret_cast<const char*>(name);
            const auto* theirs = reinterpret_cast<const char*>(text);
            std::uint64_t a, b;
            for (size_t at = 0; at + sizeof a < bytes; at += sizeof a) {
                std::memcpy(&a, mine + at, sizeof a);
                std::memcpy(&b, theirs + at, sizeof b);
                if (a != b)
                    return false;
            }
            std::memcpy(&a, mine + bytes - sizeof a, sizeof a);
            std::memcpy(&b, theirs + bytes - sizeof b, sizeof b);
            return a == b;
        }

        UINT length = 0;
        wchar_t name[kLongestRememberedName] = {};
        unsigned known = 0;  // one bit per row of the attribute table
        unsigned equal = 0;
        unsigned certain = 0;  // answered without the OLE comparison
    };

    // Whether the OLE answers kept are the current locale's; when it has changed they are all
    // let go. Read once per capture.
    bool LocaleUnchanged()
    {
        if (!m_localeChecked) {
            m_localeChecked = true;
            const LCID locale = ::GetUserDefaultLCID();
            if (locale != m_locale) {
                m_entries.clear();
                m_locale = locale;
                return false;
            }
        }
        return true;
    }

    // Only a help: without memory for it the answer is simply settled again next time.
    void Remember(size_t at, unsigned bit, BSTR name, UINT length, bool equal, bool certain) noexcept
    {
        if (length > kLongestRememberedName || at >= kRememberedIndexes)
            return;
        try {
            if (at >= m_entries.size())
                m_entries.resize(at + 1);
        } catch (...) {
            return;
        }
        Entry& entry = m_entries[at];
        if (!entry.Holds(name, length)) {
            if (length > 0)
                std::wmemcpy(entry.name, name, length);
            entry.length = length;
            entry.known = 0;
            entry.equal = 0;
            entry.certain = 0;
        }
        entry.known |= bit;
        if (equal)
            entry.equal |= bit;
        if (certain)
            entry.certain |= bit;
    }

    std::vector<Entry> m_entries;
    LCID m_locale = 0;
    bool m_localeChecked = false;
};

static_assert(std::size(kAttributeTable) <= 32, "one bit per row");

constexpr bool TableNamesArePlain()
{
    for (const AttributeRow& row : kAttributeTable) {
        for (const char* c = row.name; *c != '\0'; ++c) {
            const auto code = static_cast<unsigned char>(*c);
            if (code >= 128 || !bstr_compare_detail::kPlain.plain[code])
                return false;
        }
    }
    return true;
}
static_assert(TableNamesArePlain(), "the comparison takes the table's names for plain");

NameAnswers g_nameAnswers;

// Larger texts are let go after their item rather than kept for the next one.
constexpr size_t kKeptCapacity = 64 * 1024;

void Clear(std::string& text)
{
    if (text.capacity() > kKeptCapacity)
        std::string().swap(text);
    else
        text.clear();
}

// A text the player handed out, owned from here on. Out-values of a failed call are not the
// caller's: a player may leave anything there, so they are neither read nor freed, and the
// text counts as absent.
unique_bstr TakeText(HRESULT result, BSTR text)
{
    return unique_bstr(SUCCEEDED(result) ? text : nullptr);
}

// Whether key holds first followed by second, without making that text.
bool IsConcatenation(const std::string& key, const std::string& first, const std::string& second)
{
    return key.size() == first.size() + second.size() && key.compare(0, first.size(), first) == 0 &&
           key.compare(first.size(), std::string::npos, second) == 0;
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

    // The same item tick after tick is the usual case: it is captured into storage kept from
    // the last tick and compared in place, so such a tick allocates nothing.
    Capture(g_capture);
    if (IsConcatenation(g_lastTrackKey, g_capture.artist, g_capture.title))
        return;

    // Stored before the lookup runs: a failed lookup is not repeated while the item plays.
    g_lastTrackKey = g_capture.artist + g_capture.title;
    if (g_lookup)
        g_lookup->lookUp(g_capture);
}

Track TunelorePlugin::CaptureTrack()
{
    Track track;
    Capture(track);
    return track;
}

void TunelorePlugin::Capture(Track& track)
{
    for (std::string* field : {&track.title, &track.artist, &track.trackNumber, &track.album, &track.year,
                               &track.genre, &track.sourceUrl})
        Clear(*field);

    const CaptureNames* const wanted = Names();
    if (wanted == nullptr)
        return;
    const CaptureNames& names = *wanted;

    // Out-values of failed calls are taken into their owners only after the call's result.
    IWMPMedia* current = nullptr;
    if (FAILED(m_spCore->get_currentMedia(&current)))
        return;
    com_ptr<IWMPMedia> item;
    item.attach(current);
    if (!item)
        return;

    BSTR text = nullptr;
    HRESULT hr = item->getItemInfo(names.mediaType.get(), &text);
    const unique_bstr mediaType = TakeText(hr, text);
    if (!BstrEquals(mediaType.get(), names.audio.get()) && !BstrEquals(mediaType.get(), names.radio.get()))
        return;

    long count = 0;
    if (FAILED(item->get_attributeCount(&count)))
        return;

    text = nullptr;
    hr = item->get_sourceURL(&text);
    const unique_bstr url = TakeText(hr, text);
    AssignNarrow(track.sourceUrl, url.get());

    g_nameAnswers.StartCapture();
    const long indexes = std::min(count, kMaxAttributeIndexes);
    for (long index = 0; index < indexes; ++index) {
        for (size_t row = 0; row < std::size(kAttributeTable); ++row)
            ReadAttribute(item.get(), index, row, names.rows[row].get(), track.*kAttributeTable[row].field);
    }
}

void TunelorePlugin::ReadAttribute(IWMPMedia* item, long index, size_t row, BSTR name, std::string& field)
{
    BSTR text = nullptr;
    HRESULT hr = item->getAttributeName(index, &text);
    const unique_bstr attributeName = TakeText(hr, text);
    if (!g_nameAnswers.Equals(index, row, attributeName.get(), name))
        return;

    text = nullptr;
    hr = item->getItemInfo(name, &text);
    const unique_bstr value = TakeText(hr, text);
    // An empty value never clears what another index wrote.
    AssignNarrow(g_value, value.get());
    if (!g_value.empty())
        field.assign(g_value);
}
