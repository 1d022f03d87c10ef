// The simulated player's items and play states, each change told in the transcript.
#include "tools/player_sim/player.h"

#include "tools/player_sim/text.h"

#include <utility>
#include <vector>

namespace {

com_ptr<FakeMedia> MediaFor(const PlaylistItem& item)
{
    // Indexes the playlist skips hold nameless attributes, as a player's unnamed slots would.
    std::vector<FakeAttribute> attributes;
    for (const PlaylistAttribute& attribute : item.attributes) {
        while (static_cast<int>(attributes.size()) < attribute.index)
            attributes.push_back({std::nullopt, std::nullopt});
        std::optional<std::wstring> value;
        if (attribute.value)
            value = WideFromUtf8(*attribute.value);
        attributes.push_back({WideFromUtf8(attribute.name), value});
    }
    std::optional<std::wstring> mediaType, source;
    if (item.mediaType)
        mediaType = WideFromUtf8(*item.mediaType);
    if (item.source)
        source = WideFromUtf8(*item.source);
    return FakeMedia::Create(std::move(attributes), mediaType, source);
}

std::string Describe(const PlaylistItem& item)
{
    const std::string title = item.Attribute("Title");
    const std::string artist = item.Attribute("Author");
    std::string text = title.empty() ? "an untitled item" : "\"" + title + "\"";
    if (!artist.empty())
        text += " by " + artist;
    text += " (" + item.mediaType.value_or("no media type");
    if (item.source)
        text += ", " + *item.source;
    return text + ")";
}

}  // namespace

Player::Player(Transcript& transcript) : m_transcript(transcript), m_core(FakeCore::Create())
{
    // As the player does: a sink must serve the player's events. The plug-in's serves none, so
    // its subscription is refused, and it follows the player by polling.
    m_core->SetAdvisePolicy(AdvisePolicy::RequireEventsSink);
}

void Player::Enter(PlayState state)
{
    m_state = state;
    m_core->SetPlayState(static_cast<WMPPlayState>(state));
    JsonLine fields;
    fields.Str("state", PlayStateName(state));
    std::string text = PlayStateName(state);
    if (state == PlayState::Playing && m_item) {
        text += " " + Describe(*m_item);
        fields.Str("mediaType", m_item->mediaType.value_or(""))
            .Str("title", m_item->Attribute("Title"))
            .Str("artist", m_item->Attribute("Author"))
            .Str("source", m_item->source.value_or(""));
    }
    m_transcript.Add("player", "play-state", text, fields);
}

void Player::PassToNextItem()
{
    if (m_state == PlayState::Playing || m_state == PlayState::Paused)
        Enter(PlayState::MediaEnded);
    Enter(PlayState::Transitioning);
}

void Player::Start(const PlaylistItem& item)
{
    PassToNextItem();
    m_item = item;
    m_media = MediaFor(item);
    m_core->SetCurrentMedia(m_media.get());
    Enter(PlayState::Playing);
}

void Player::Repeat()
{
    if (!m_item)
        return;
    PassToNextItem();
    Enter(PlayState::Playing);
}

void Player::SetState(PlayState state)
{
    Enter(state);
}

int Player::Close()
{
    m_pollsAtClose = Polls();
    if (m_core)
        m_core->SetCurrentMedia(nullptr);
    m_media.reset();
    m_core.reset();
    return static_cast<int>(FakeCore::LiveObjects() + FakeMedia::LiveObjects());
}
