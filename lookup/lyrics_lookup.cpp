// One lookup, from the captured item to the icon's new state.
#include "lookup/lyrics_lookup.h"

#include "framework/clock.h"
#include "net/http_exchange.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// The platform's path limit, terminating zero included.
constexpr size_t kPathBufferSize = MAX_PATH;

}  // namespace

LyricsLookup::LyricsLookup(HINSTANCE module, ServiceEndpoint endpoint, TickWork tickWork,
                           SettingsOpener openSettings)
    : m_endpoint(std::move(endpoint)),
      m_pWnd(std::make_unique<CNotifierWnd>(module, tickWork, &m_endpoint)),
      m_openSettings(openSettings)
{
}

LyricsLookup::~LyricsLookup() = default;

FieldMap LyricsLookup::buildRequest(Track track)
{
    if (!::PathIsURLA(track.sourceUrl.c_str())) {
        // A local or network path: only the last component is sent. Longer paths are cut
        // to the buffer before the file name is taken from them.
        char path[kPathBufferSize] = {};
        const size_t length = std::min(track.sourceUrl.size(), kPathBufferSize - 1);
        std::memcpy(path, track.sourceUrl.data(), length);
        ::PathStripPathA(path);
        track.sourceUrl = path;
    }

    FieldMap request;
    request["title"] = track.title;
    request["artist"] = track.artist;
    request["track"] = track.trackNumber;
    request["album"] = track.album;
    request["year"] = track.year;
    request["genre"] = track.genre;
    request["filename"] = track.sourceUrl;
    return request;
}

void LyricsLookup::lookUp(Track track)
{
    // The balloon's delay counts from here, so the exchange's own time is part of it.
    const int64_t lookupStart = CurrentTime();
    FieldMap reply = postForm(m_endpoint, buildRequest(std::move(track)));

    // A title of a single space still counts as found; a url with an empty title is still the
    // page the icon opens.
    const std::string& title = reply["title"];
    if (!title.empty())
        m_pWnd->ShowFound(title, reply["url"], lookupStart);
    else
        m_pWnd->ShowNotFound(reply["url"]);
}

void LyricsLookup::playbackStopped()
{
    m_pWnd->ShowStopped();
}

void LyricsLookup::showSettings()
{
    if (m_openSettings != nullptr)
        m_openSettings(nullptr);
}
