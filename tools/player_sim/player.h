// The simulated player: the core object the plug-in holds (the fake player's core), the
// playlist's items as media items, and the play states a player passes through.
#pragma once

#include "tools/fake_player/fake_player.h"
#include "tools/player_sim/playlist.h"
#include "tools/player_sim/transcript.h"

#include <optional>

class Player {
public:
    explicit Player(Transcript& transcript);

    IWMPCore* Core() const { return m_core.get(); }
    // How many times the plug-in has asked for the play state.
    int Polls() const { return m_core ? m_core->CallCount(PlayerCall::GetPlayState) : m_pollsAtClose; }
    bool HasItem() const { return m_item.has_value(); }

    // A new item starts playing. From a playing or paused item the player passes through the
    // end of that item and the switch to the next, as it does within a playlist: quickly, so
    // that the plug-in's once-a-second poll does not see them.
    void Start(const PlaylistItem& item);
    // The current item again from its beginning, through the same passage.
    void Repeat();
    // Any other state; playing resumes the current item.
    void SetState(PlayState state);

    // Lets go of the core and the items. Afterwards, how many fake player objects are still
    // alive: the ones the plug-in did not give back.
    int Close();

private:
    void Enter(PlayState state);
    void PassToNextItem();

    Transcript& m_transcript;
    com_ptr<FakeCore> m_core;
    com_ptr<FakeMedia> m_media;
    std::optional<PlaylistItem> m_item;
    PlayState m_state = PlayState::Undefined;
    int m_pollsAtClose = 0;
};
