// tunelore-player-sim: stands in for the player where a UI plug-in meets it, plays a playlist
// and shows, with timestamps, everything the plug-in shows the user.
#include "tools/player_sim/options.h"
#include "tools/player_sim/playlist.h"
#include "tools/player_sim/simulation.h"
#include "tools/player_sim/text.h"
#include "tools/player_sim/transcript.h"

#include <objbase.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

void Complain(const std::string& text)
{
    std::fprintf(stderr, "tunelore-player-sim: %s\n", text.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    // Windows' C runtime would hold piped output back until exit.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);

    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(Utf8FromAnsi(argv[i]));
    SimulatorOptions options;
    std::string error;
    if (!ParseOptions(arguments, options, error)) {
        Complain(error);
        std::fputs(kUsage, stderr);
        return kBadCommandLine;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kRunClean;
    }

    std::ifstream file(AnsiFromUtf8(options.playlist), std::ios::binary);
    if (!file) {
        Complain("cannot read the playlist " + options.playlist);
        return kBadCommandLine;
    }
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    Playlist playlist;
    PlaylistError playlistError;
    if (!ParsePlaylist(text, playlist, playlistError)) {
        Complain(options.playlist + ":" + std::to_string(playlistError.line) + ": " + playlistError.message);
        return kBadCommandLine;
    }

    Transcript transcript(!options.quiet);
    if (options.jsonPath && !transcript.WriteJsonTo(*options.jsonPath)) {
        Complain("cannot write " + *options.jsonPath);
        return kBadCommandLine;
    }
    // The player's user-interface thread is a single-threaded apartment.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int result = kRunWithErrors;
    {
        Simulation simulation(options, playlist, transcript);
        result = simulation.Run();
    }
    if (SUCCEEDED(com))
        ::CoUninitialize();
    transcript.Add("sim", "end", result == kRunClean ? "done" : "done, with errors",
                   JsonLine().Int("exitCode", result));
    return result;
}
