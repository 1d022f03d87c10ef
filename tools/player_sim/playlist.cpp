// The playlist reader: one line at a time, each line a step or a detail of the item above it.
#include "tools/player_sim/playlist.h"

#include "tools/player_sim/text_cursor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <iterator>

namespace {

// Far beyond any sensible run, and small enough that sums of durations stay exact.
constexpr double kLongestStepSeconds = 3600;
constexpr int kHighestAttributeIndex = 1000;

// Indexed by the state's number.
const char* const kStateNames[] = {
    "undefined", "stopped",  "paused",     "playing",       "scanforward", "scanreverse",
    "buffering", "waiting",  "mediaended", "transitioning", "ready",       "reconnecting",
};
static_assert(std::size(kStateNames) == static_cast<std::size_t>(PlayState::Reconnecting) + 1);

struct StepWord {
    const char* word;
    StepKind kind;
};

const StepWord kStepWords[] = {
    {"item", StepKind::Item},
    {"repeat", StepKind::Repeat},
    {"pause", StepKind::Pause},
    {"resume", StepKind::Resume},
    {"stop", StepKind::Stop},
    {"state", StepKind::State},
    {"wait", StepKind::Wait},
    {"click", StepKind::Click},
    {"right-click", StepKind::RightClick},
    {"double-click", StepKind::DoubleClick},
    {"balloon-click", StepKind::BalloonClick},
    {"menu", StepKind::Menu},
    {"properties", StepKind::Properties},
    {"answer", StepKind::Answer},
    {"screenshot", StepKind::Screenshot},
};

std::string Lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Reads one line word by word; a word in double quotes keeps its spaces.
class LineCursor : public TextCursor {
public:
    explicit LineCursor(std::string_view line) : TextCursor(line, " \t\r\v\f") {}

    // The next word; stops at "=" too when asked. False at the end or on an open quote.
    bool Word(std::string& word, bool stopAtEquals = false)
    {
        SkipSpace();
        word.clear();
        if (m_pos >= m_text.size())
            return false;
        if (m_text[m_pos] == '"') {
            const std::size_t close = m_text.find('"', m_pos + 1);
            if (close == std::string_view::npos)
                return false;
            word = m_text.substr(m_pos + 1, close - m_pos - 1);
            m_pos = close + 1;
            return true;
        }
        while (m_pos < m_text.size() && !IsSpace(m_text[m_pos]) && !(stopAtEquals && m_text[m_pos] == '='))
            word += m_text[m_pos++];
        return !word.empty();
    }

    // Everything left, without surrounding spaces; a text wholly in double quotes loses them.
    std::string Rest()
    {
        SkipSpace();
        std::string_view rest = m_text.substr(std::min(m_pos, m_text.size()));
        m_pos = m_text.size();
        while (!rest.empty() && IsSpace(rest.back()))
            rest.remove_suffix(1);
        if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
            rest = rest.substr(1, rest.size() - 2);
        return std::string(rest);
    }
};

bool ParseSeconds(const std::string& text, double& seconds)
{
    std::string number = text;
    if (!number.empty() && (number.back() == 's' || number.back() == 'S'))
        number.pop_back();
    if (number.empty() || !std::all_of(number.begin(), number.end(), [](char c) {
            return (c >= '0' && c <= '9') || c == '.';
        }))
        return false;
    char* end = nullptr;
    seconds = std::strtod(number.c_str(), &end);
    return end == number.c_str() + number.size() && std::isfinite(seconds) && seconds >= 0 &&
           seconds <= kLongestStepSeconds;
}

bool ParseIndex(const std::string& text, int& index)
{
    if (text.empty() || text.size() > 4 || !std::all_of(text.begin(), text.end(), [](char c) {
            return c >= '0' && c <= '9';
        }))
        return false;
    index = std::atoi(text.c_str());
    return index <= kHighestAttributeIndex;
}

class Reader {
public:
    Reader(Playlist& playlist, PlaylistError& error) : m_playlist(playlist), m_error(error) {}

    bool Line(int number, const std::string& line)
    {
        m_line = number;
        LineCursor cursor(line);
        if (cursor.AtEnd())
            return true;
        std::string word;
        if (!cursor.Word(word))
            return Fail("unclosed quote");
        if (word[0] == '#')
            return true;
        word = Lowercase(word);
        if (word == "source" || word == "attr")
            return ItemDetail(word, cursor);

        const auto known = std::find_if(std::begin(kStepWords), std::end(kStepWords),
                                        [&](const StepWord& entry) { return word == entry.word; });
        if (known == std::end(kStepWords))
            return Fail("unknown step \"" + word + "\"");
        PlaylistStep step;
        step.kind = known->kind;
        step.line = number;
        if (!StepArguments(step, cursor))
            return false;
        if (step.kind == StepKind::Item)
            m_haveItem = true;
        m_playlist.steps.push_back(std::move(step));
        return true;
    }

private:
    bool Fail(std::string message)
    {
        m_error = {m_line, std::move(message)};
        return false;
    }

    bool Seconds(LineCursor& cursor, double& seconds)
    {
        std::string word;
        if (!cursor.Word(word))
            return Fail("missing duration in seconds");
        if (!ParseSeconds(word, seconds))
            return Fail("\"" + word + "\" is not a duration in seconds (0 to 3600)");
        return true;
    }

    bool StepArguments(PlaylistStep& step, LineCursor& cursor)
    {
        std::string word;
        switch (step.kind) {
        case StepKind::Item:
            if (!cursor.Word(word))
                return Fail("missing media type (audio, radio, video, or - for none)");
            if (word != "-")
                step.item.mediaType = word;
            if (!Seconds(cursor, step.seconds))
                return false;
            break;
        case StepKind::Repeat:
        case StepKind::Resume:
            if (!m_haveItem)
                return Fail("no item before it");
            if (!Seconds(cursor, step.seconds))
                return false;
            break;
        case StepKind::Pause:
        case StepKind::Stop:
        case StepKind::Wait:
            if (!Seconds(cursor, step.seconds))
                return false;
            break;
        case StepKind::State: {
            if (!cursor.Word(word))
                return Fail("missing play state");
            const std::optional<PlayState> state = PlayStateFromName(Lowercase(word));
            if (!state)
                return Fail("unknown play state \"" + word + "\"");
            step.state = *state;
            if (!Seconds(cursor, step.seconds))
                return false;
            break;
        }
        case StepKind::Menu:
            step.choice = cursor.Rest();
            if (step.choice.empty())
                return Fail("missing menu item (or close)");
            if (Lowercase(step.choice) == "close")
                step.choice.clear();
            return true;
        case StepKind::Answer:
            if (!cursor.Word(step.caption))
                return Fail("missing dialog caption");
            if (!cursor.Word(step.choice))
                return Fail("missing button");
            break;
        case StepKind::Screenshot:
            step.file = cursor.Rest();
            if (step.file.empty())
                return Fail("missing file name");
            return true;
        case StepKind::Click:
        case StepKind::RightClick:
        case StepKind::DoubleClick:
        case StepKind::BalloonClick:
        case StepKind::Properties:
            break;
        }
        if (!cursor.AtEnd())
            return Fail("unexpected \"" + cursor.Rest() + "\" at the end of the line");
        return true;
    }

    bool ItemDetail(const std::string& word, LineCursor& cursor)
    {
        if (m_playlist.steps.empty() || m_playlist.steps.back().kind != StepKind::Item)
            return Fail("\"" + word + "\" belongs right below an item");
        PlaylistItem& item = m_playlist.steps.back().item;
        if (word == "source") {
            if (item.source)
                return Fail("the item has a source already");
            item.source = cursor.Rest();
            return true;
        }

        std::string text;
        PlaylistAttribute attribute;
        if (!cursor.Word(text) || !ParseIndex(text, attribute.index))
            return Fail("an attribute needs its index (0 to 1000) first");
        if (!cursor.Word(attribute.name, true))
            return Fail("missing attribute name");
        if (cursor.Take('='))
            attribute.value = cursor.Rest();
        else if (!cursor.AtEnd())
            return Fail("expected \"=\" after the attribute name");

        auto place = std::lower_bound(item.attributes.begin(), item.attributes.end(), attribute.index,
                                      [](const PlaylistAttribute& a, int index) { return a.index < index; });
        if (place != item.attributes.end() && place->index == attribute.index)
            return Fail("index " + std::to_string(attribute.index) + " is used twice");
        item.attributes.insert(place, std::move(attribute));
        return true;
    }

    Playlist& m_playlist;
    PlaylistError& m_error;
    int m_line = 0;
    bool m_haveItem = false;
};

}  // namespace

const char* PlayStateName(PlayState state)
{
    const auto index = static_cast<std::size_t>(state);
    return index < std::size(kStateNames) ? kStateNames[index] : "unknown";
}

std::optional<PlayState> PlayStateFromName(const std::string& name)
{
    const auto found = std::find(std::begin(kStateNames), std::end(kStateNames), name);
    if (found == std::end(kStateNames))
        return std::nullopt;
    return static_cast<PlayState>(found - std::begin(kStateNames));
}

std::string PlaylistItem::Attribute(const std::string& name) const
{
    for (const PlaylistAttribute& attribute : attributes) {
        if (attribute.name == name)
            return attribute.value.value_or("");
    }
    return "";
}

double Playlist::Seconds() const
{
    double total = 0;
    for (const PlaylistStep& step : steps)
        total += step.seconds;
    return total;
}

bool ParsePlaylist(const std::string& text, Playlist& playlist, PlaylistError& error)
{
    playlist = {};
    Reader reader(playlist, error);
    int number = 0;
    // Editors on Windows may start a UTF-8 file with a byte order mark.
    std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (!reader.Line(++number, text.substr(start, end - start)))
            return false;
        start = end + 1;
    }
    return true;
}
