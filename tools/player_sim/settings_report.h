// The plug-in's five settings as they stand in the current user's registry, for the end of the
// transcript: what the plug-in saved when it was unloaded.
#pragma once

#include "tools/player_sim/transcript.h"

void ReportSettings(Transcript& transcript);
