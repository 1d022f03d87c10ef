// The player simulator's playlist: a small text file of steps that say what the player plays,
// for how long, and what the user does meanwhile. Platform-free.
//
//   # a comment line
//   item audio 8                     a new item starts playing and plays 8 seconds
//     source C:\Music\07 Rain Song.mp3
//     attr 0 Author = The Lanterns   the attribute at index 0 and its value
//     attr 1 Title = Rain Song
//     attr 2 AlbumArtist =           an empty value; without "=" the value is absent
//   pause 2 | resume 3 | stop 2      the play state for that long (resume: the same item again)
//   repeat 3                         the same item starts again from its beginning
//   state buffering 1                any play state of the player by name
//   wait 1                           nothing changes
//   click | right-click | double-click | balloon-click     the user on the tray icon
//   menu Settings | menu close       choose in the open tray menu, or close it
//   properties                       the player asks for the plug-in's property page
//   answer "Update found" Later      click a button of the dialog with that caption
//   screenshot shot.png              a picture of the screen
//
// Durations are seconds, whole or decimal, with an optional "s". Words may be double-quoted.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The player's play states, numbered as the player numbers them.
enum class PlayState {
    Undefined = 0,
    Stopped = 1,
    Paused = 2,
    Playing = 3,
    ScanForward = 4,
    ScanReverse = 5,
    Buffering = 6,
    Waiting = 7,
    MediaEnded = 8,
    Transitioning = 9,
    Ready = 10,
    Reconnecting = 11,
};

// The name a playlist uses for a state ("mediaended"), and the state of a name.
const char* PlayStateName(PlayState state);
std::optional<PlayState> PlayStateFromName(const std::string& name);

struct PlaylistAttribute {
    int index = 0;
    std::string name;
    std::optional<std::string> value;  // nullopt: the player gives no value at all
};

struct PlaylistItem {
    std::optional<std::string> mediaType;  // nullopt: the item has no "MediaType" attribute
    std::optional<std::string> source;
    std::vector<PlaylistAttribute> attributes;  // in ascending index order

    // The value of the first attribute with that name, or "".
    std::string Attribute(const std::string& name) const;
};

enum class StepKind {
    Item,
    Repeat,
    Pause,
    Resume,
    Stop,
    State,
    Wait,
    Click,
    RightClick,
    DoubleClick,
    BalloonClick,
    Menu,
    Properties,
    Answer,
    Screenshot,
};

struct PlaylistStep {
    StepKind kind = StepKind::Wait;
    int line = 0;
    double seconds = 0;                   // how long the step's play state lasts
    PlaylistItem item;                    // Item
    PlayState state = PlayState::Playing;  // State
    std::string caption;                  // Answer: the dialog's caption
    std::string choice;                   // Answer: the button; Menu: the item, "" to close
    std::string file;                     // Screenshot
};

struct Playlist {
    std::vector<PlaylistStep> steps;

    // The sum of the steps' durations.
    double Seconds() const;
};

struct PlaylistError {
    int line = 0;
    std::string message;
};

// Reads a whole playlist; on the first error returns false with its line and reason.
bool ParsePlaylist(const std::string& text, Playlist& playlist, PlaylistError& error);
