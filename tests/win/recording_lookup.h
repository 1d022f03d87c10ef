// A lookup that only records what the poll and the plug-in object ask of it, in place of the
// one that would post to the service.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "lookup/ilyrics_lookup.h"

class RecordingLookup : public ILyricsLookup {
public:
    void lookUp(Track track) override
    {
        titles.push_back(track.title);
        lookups.push_back(std::move(track));
    }
    void playbackStopped() override { ++stopped; }
    void showSettings() override { ++settingsShown; }

    std::vector<Track> lookups;
    std::vector<std::string> titles;
    int stopped = 0;
    int settingsShown = 0;
};
