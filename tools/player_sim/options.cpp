// The command line of the player simulator.
#include "tools/player_sim/options.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iterator>

const char kUsage[] =
    "usage: tunelore-player-sim [options] PLAYLIST\n"
    "Hosts a UI plug-in as the player does, plays PLAYLIST and shows what the plug-in shows.\n"
    "  --dll PATH           load the plug-in from this DLL instead of the registered one\n"
    "  --clsid {CLASS-ID}   the plug-in class to create (default: Tunelore's)\n"
    "  --json FILE          also write the transcript to FILE as JSON lines\n"
    "  --screenshot FILE    save a PNG of the screen once the balloon shows (needs a desktop\n"
    "                       with a notification area)\n"
    "  --open-for-real      hand the addresses the plug-in opens to the shell (default: only\n"
    "                       show them)\n"
    "  --time-limit SECONDS end the run after this long (default: the playlist's length + 30)\n"
    "  --quiet              no transcript on the console\n"
    "  --help               this text\n";

namespace {

bool IsClassId(const std::string& text)
{
    // {8-4-4-4-12} hexadecimal digits.
    static const char kPattern[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    if (text.size() != sizeof(kPattern) - 1)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (kPattern[i] == 'x' ? !hex : c != kPattern[i])
            return false;
    }
    return true;
}

// The options that take a text, each with its check where it has one.
struct TextOption {
    const char* name;
    std::optional<std::string> SimulatorOptions::*value;
    bool (*valid)(const std::string&);
    const char* invalid;
};

const TextOption kTextOptions[] = {
    {"--dll", &SimulatorOptions::dllPath, nullptr, nullptr},
    {"--clsid", &SimulatorOptions::classId, IsClassId,
     "--clsid wants a class id in braces, {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"},
    {"--json", &SimulatorOptions::jsonPath, nullptr, nullptr},
    {"--screenshot", &SimulatorOptions::screenshotPath, nullptr, nullptr},
};

struct FlagOption {
    const char* name;
    bool SimulatorOptions::*flag;
};

const FlagOption kFlagOptions[] = {
    {"--help", &SimulatorOptions::help},
    {"-h", &SimulatorOptions::help},
    {"--open-for-real", &SimulatorOptions::openForReal},
    {"--quiet", &SimulatorOptions::quiet},
};

template <typename Option, std::size_t N>
const Option* Find(const Option (&options)[N], const std::string& name)
{
    const auto found =
        std::find_if(std::begin(options), std::end(options), [&](const Option& option) { return name == option.name; });
    return found == std::end(options) ? nullptr : found;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& arguments, SimulatorOptions& options, std::string& error)
{
    options = {};
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&](std::optional<std::string>& into) {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
                error = argument + " needs a value";
                return false;
            }
            into = arguments[++i];
            return true;
        };

        if (const FlagOption* flagOption = Find(kFlagOptions, argument)) {
            options.*flagOption->flag = true;
        } else if (const TextOption* textOption = Find(kTextOptions, argument)) {
            std::optional<std::string>& text = options.*textOption->value;
            if (!value(text))
                return false;
            if (textOption->valid && !textOption->valid(*text)) {
                error = textOption->invalid;
                return false;
            }
        } else if (argument == "--time-limit") {
            std::optional<std::string> text;
            if (!value(text))
                return false;
            char* end = nullptr;
            const double seconds = std::strtod(text->c_str(), &end);
            if (end != text->c_str() + text->size() || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400) {
                error = "--time-limit wants a number of seconds above 0";
                return false;
            }
            options.timeLimitSeconds = seconds;
        } else if (!argument.empty() && argument[0] == '-') {
            error = "unknown option " + argument;
            return false;
        } else if (options.playlist.empty()) {
            options.playlist = argument;
        } else {
            error = "more than one playlist: " + options.playlist + ", " + argument;
            return false;
        }
    }
    if (options.help)
        return true;
    if (options.playlist.empty()) {
        error = "no playlist given";
        return false;
    }
    return true;
}
