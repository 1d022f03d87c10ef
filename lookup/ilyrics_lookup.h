// How the player side reaches the lookup object.
#pragma once

#include "lookup/track.h"

class ILyricsLookup {
public:
    // Looks the item up and shows the outcome; returns when the lookup has finished.
    virtual void lookUp(Track track) = 0;
    // Shows that nothing is playing.
    virtual void playbackStopped() = 0;
    // Opens the settings dialog without a parent, or brings the open one forward.
    virtual void showSettings() = 0;
    virtual ~ILyricsLookup() = default;
};
