// The once-a-second poll of every live plug-in object, and the process-wide state it keeps.
#pragma once

#include <string>
#include <vector>

class ILyricsLookup;
class TunelorePlugin;

// Every plug-in object that exists now, in creation order. Holds no references: it only lets
// the poll reach each object.
extern std::vector<TunelorePlugin*> g_livePlugins;

// Artist followed by title of the last item handed to the lookup; empty while not playing.
extern std::string g_lastTrackKey;

// The one lookup object, set at module start-up and valid until module exit.
extern ILyricsLookup* g_lookup;

void PollPlayers();
