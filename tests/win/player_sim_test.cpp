// The shipped DLL end to end through the player simulator: the simulator runs as a child process
// in the test prefix, hosting the real Tunelore-WMP.dll against the reference lyrics service;
// the tests read its JSON transcript, the service's request log and the registry afterwards.
#include "res/resource.h"
#include "tests/win/built_dll.h"
#include "tests/win/lyrics_service_client.h"
#include "tests/win/player_sim_driver.h"
#include "tests/win/settings_registry.h"
#include "tools/player_sim/json_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// A run's own time limit is its playlist and 30 s; this only catches a simulator that hangs.
constexpr DWORD kRunLimitMs = 120000;
constexpr DWORD kRegistrationLimitMs = 60000;
constexpr DWORD kEventWaitMs = 30000;
constexpr double kPluginClassCapabilities = 3221225474.0;
constexpr int kShowNormally = 5;  // SW_SHOW

const char kClassId[] = "{921BC298-60F8-4557-A01D-ECEE7CC020A1}";
const char kFoundTip[] = "Lyrics found! Doubleclick to view";
const char kNotFoundTip[] = "Lyrics not found";
const char kStoppedTip[] = "Stopped";

const std::string kRainSongBody =
    "album=Night+Drive%21&artist=The+Lanterns&filename=07+Rain+Song%2Emp3&genre=Pop&title=Rain+Song&track=7"
    "&year=1999\0"s;
const std::string kStreamBody =
    "album=&artist=Nobody+Known&filename=http%3A%2F%2Fradio%2Eexample%2Flive&genre=&title=Unheard+Tune&track="
    "&year=\0"s;
const std::string kEmptyBody = "album=&artist=&filename=&genre=&title=&track=&year=\0"s;
const std::string kRainSongPage = "http://lyrics.tunelore.example/lyrics/rain-song";

std::string PlaylistPath(const char* name)
{
    return WindowsPath(std::string(TUNELORE_PLAYLIST_DIR) + "/" + name);
}

// A text of the DLL's string table, read without running the DLL.
std::string DllString(UINT id)
{
    const HMODULE module = ::LoadLibraryExA(DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    char text[512] = {};
    if (module) {
        ::LoadStringA(module, id, text, sizeof(text));
        ::FreeLibrary(module);
    }
    return text;
}

int Regsvr32(bool unregister)
{
    return RunToEnd(std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + DllPath() + "\"",
                    kRegistrationLimitMs);
}

// Fresh settings for a run: the given values, and no update check made yet.
bool StartSettings(std::initializer_list<std::pair<const char*, DWORD>> values)
{
    DeleteSettingsKey();
    for (const auto& [name, value] : values) {
        if (!WriteSetting(name, value))
            return false;
    }
    return true;
}

std::string WritePlaylist(const std::string& text)
{
    const std::string path = TemporaryFile("pls");
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

struct SimRun {
    int exitCode = -1;
    std::vector<SimEvent> events;
    std::vector<RecordedRequest> requests;
    std::int64_t startedAt = 0;
    std::int64_t endedAt = 0;

    std::vector<SimEvent> Of(const char* kind) const { return EventsOf(events, kind); }
    std::vector<std::string> Posts() const
    {
        std::vector<std::string> bodies;
        for (const RecordedRequest& request : requests) {
            if (request.requestLine.rfind("POST ", 0) == 0)
                bodies.push_back(request.body);
        }
        return bodies;
    }
    int VersionQueries() const
    {
        return static_cast<int>(std::count_if(requests.begin(), requests.end(), [](const RecordedRequest& request) {
            return request.requestLine.rfind("GET ", 0) == 0 &&
                   request.requestLine.find("/tools/plugin.php?do=checkv ") != std::string::npos;
        }));
    }
    // Errors the simulator met, and lines it wrote that are no JSON.
    std::vector<std::string> Problems() const
    {
        std::vector<std::string> problems;
        for (const SimEvent& event : events) {
            if (event.event == "error" || event.event == "unreadable")
                problems.push_back(event.event + ": " + event.Text("text"));
        }
        return problems;
    }
};

// The console transcript shows in the test's output, for a reader of a failed run.
void Show(const SimulatorProcess& process)
{
    std::printf("--- simulator console ---\n%s--- end of console ---\n", process.Console().c_str());
}

// Runs the simulator to its end and collects what it and the service saw.
SimRun RunSimulator(const std::vector<std::string>& arguments, const LyricsServiceControl& service)
{
    SimRun run;
    run.startedAt = std::time(nullptr);
    SimulatorProcess process;
    if (process.Start(arguments) && process.Wait(kRunLimitMs))
        run.exitCode = process.ExitCode();
    run.endedAt = std::time(nullptr);
    run.events = process.Events();
    service.requests(run.requests);
    Show(process);
    return run;
}

const SimEvent* First(const std::vector<SimEvent>& events, const std::string& kind)
{
    const auto found =
        std::find_if(events.begin(), events.end(), [&](const SimEvent& event) { return event.event == kind; });
    return found == events.end() ? nullptr : &*found;
}

// The service for every test: its port, the prefix's proxy pointed at it, its log emptied.
class ServiceScope {
public:
    bool Open(std::string& problem)
    {
        if (m_port == 0) {
            problem = "no lyrics service port in " TUNELORE_SERVICE_PORT_FILE;
            return false;
        }
        if (!m_proxy.pointAt(m_port) || !m_service.reset()) {
            problem = "the lyrics service cannot be reached";
            return false;
        }
        return true;
    }
    const LyricsServiceControl& Service() const { return m_service; }

private:
    const int m_port = LyricsServicePort();
    ProxyScope m_proxy;
    LyricsServiceControl m_service{m_port};
};

// A suite whose cases all read one run of the simulator, made before the first of them. A case
// fails at once when the run could not be made. Suite keeps each suite's run apart.
template <typename Suite>
class SharedRunTest : public ::testing::Test {
protected:
    // The service and fresh settings for the run; false, with the reason, when either fails.
    static bool PrepareRun(std::initializer_list<std::pair<const char*, DWORD>> settings)
    {
        s_problem.clear();
        s_scope = std::make_unique<ServiceScope>();
        if (!s_scope->Open(s_problem))
            return false;
        if (!StartSettings(settings)) {
            s_problem = "the settings cannot be written";
            return false;
        }
        return true;
    }

    static void TearDownTestSuite()
    {
        DeleteSettingsKey();
        s_run.reset();
        s_scope.reset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_problem.empty()) << s_problem;
        ASSERT_TRUE(s_run);
    }

    static inline std::unique_ptr<ServiceScope> s_scope;
    static inline std::unique_ptr<SimRun> s_run;
    static inline std::string s_problem;
};

// --- The transcript read back as the simulator writes it ------------------------------------

TEST(TranscriptReaderTest, ReadsEveryKindOfMemberTheSimulatorWrites)
{
    const std::string awkward = "say \"hi\" \\ \r\n\t\x01\x1F caf\xC3\xA9";
    const std::string line = JsonLine()
                                 .Str("event", "user")
                                 .Seconds("t", 1.5)
                                 .Int("polls", -3)
                                 .Bool("shown", true)
                                 .Bool("hidden", false)
                                 .List("items", {"a", awkward, ""})
                                 .List("none", {})
                                 .Str("text", awkward)
                                 .Text();
    const std::optional<SimEvent> event = ParseSimEvent(line);
    ASSERT_TRUE(event) << line;
    EXPECT_EQ(event->event, "user");
    EXPECT_EQ(event->t, 1.5);
    EXPECT_EQ(event->polls, -3);
    EXPECT_TRUE(event->Flag("shown"));
    EXPECT_EQ(event->flags, (std::map<std::string, bool>{{"hidden", false}, {"shown", true}}));
    EXPECT_EQ(event->List("items"), (std::vector<std::string>{"a", awkward, ""}));
    EXPECT_EQ(event->lists.count("none"), 1u);
    EXPECT_EQ(event->Text("text"), awkward);
}

TEST(TranscriptReaderTest, RefusesWhatTheSimulatorNeverWrites)
{
    const char* const kBad[] = {
        "",
        "{",
        "{\"a\":1",
        "{\"a\":1}x",
        "{\"a\" 1}",
        "{\"a\":\"open}",
        "{\"a\":\"\\q\"}",
        "{\"a\":\"\\u0041\"}",
        "{\"a\":\"\\u00zz\"}",
        "{\"a\":\"\\u00",
        "{\"a\":[1]}",
        "{\"a\":[\"b\"}",
        "{\"a\":nothing}",
    };
    for (const char* line : kBad)
        EXPECT_FALSE(ParseSimEvent(line)) << line;
}

// --- The main road, with the plug-in registered as the player finds it ---------------------

// One run serves every case: it takes half a minute of real time.
class MainRoadTest : public SharedRunTest<MainRoadTest> {
protected:
    static void SetUpTestSuite()
    {
        // Short balloon times, an update check due, balloons on.
        if (!PrepareRun({{"Tip enabled", 1}, {"Check updates", 1}, {"Balloon delay", 2}, {"Balloon timeout", 2}}))
            return;
        if (Regsvr32(false) != 0) {
            s_problem = "regsvr32 did not register the DLL";
            return;
        }
        s_run = std::make_unique<SimRun>(RunSimulator({PlaylistPath("main_road.txt")}, s_scope->Service()));
    }

    static void TearDownTestSuite()
    {
        Regsvr32(true);
        SharedRunTest::TearDownTestSuite();
    }

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(SharedRunTest::SetUp());
        m_posts = s_run->Posts();
    }

    const SimRun& run() const { return *s_run; }

    // The song, the stream, the stream again once resumed, and the video.
    static constexpr std::size_t kPosts = 4;
    std::vector<std::string> m_posts;
};

TEST_F(MainRoadTest, RunEndsCleanlyWithThePluginCreatedThroughItsRegistration)
{
    EXPECT_EQ(run().exitCode, 0);
    EXPECT_EQ(run().Problems(), std::vector<std::string>());

    const SimEvent* listed = First(run().events, "ui-plugins");
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->Text("clsid"), kClassId);
    // The player's texts, read through the registration's res: references into the DLL.
    EXPECT_EQ(listed->Text("name"), "Tunelore plugin");
    EXPECT_EQ(listed->Text("description"), "Retrieves lyrics to song currently playing");
    EXPECT_EQ(listed->Number("capabilities"), kPluginClassCapabilities);

    const SimEvent* created = First(run().events, "create");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->Text("through"), "com");
    EXPECT_EQ(created->Text("result"), "0x00000000");
}

TEST_F(MainRoadTest, EachNewSongIsPostedWithItsExactFields)
{
    ASSERT_EQ(m_posts.size(), kPosts);
    EXPECT_EQ(m_posts[0], kRainSongBody);
    EXPECT_EQ(m_posts[1], kStreamBody);
}

TEST_F(MainRoadTest, TheSameSongAgainWithoutAGapIsNotPostedAgain)
{
    EXPECT_EQ(std::count(m_posts.begin(), m_posts.end(), kRainSongBody), 1);
}

TEST_F(MainRoadTest, PauseAndResumeLookTheSongUpAgain)
{
    ASSERT_EQ(m_posts.size(), kPosts);
    EXPECT_EQ(m_posts[1], kStreamBody);
    EXPECT_EQ(m_posts[2], kStreamBody);
}

TEST_F(MainRoadTest, AVideoIsPostedAsAnAllEmptyRecord)
{
    ASSERT_EQ(m_posts.size(), kPosts);
    EXPECT_EQ(m_posts[3], kEmptyBody);
}

TEST_F(MainRoadTest, IconAndTooltipFollowFoundNotFoundAndStopped)
{
    std::vector<std::pair<std::string, std::string>> states;
    for (const SimEvent& event : run().events) {
        if (event.event == "icon-added" || event.event == "icon")
            states.emplace_back(event.Text("picture"), event.Text("tip"));
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"idle", kStoppedTip},     // loaded
        {"found", kFoundTip},      // the song the service knows
        {"idle", kNotFoundTip},    // the stream it does not know
        {"idle", kStoppedTip},     // paused
        {"idle", kNotFoundTip},    // resumed; the video's lookup then changes nothing to see
        {"idle", kStoppedTip},     // stopped
    };
    EXPECT_EQ(states, expected);
    EXPECT_TRUE(First(run().events, "icon-removed"));
}

TEST_F(MainRoadTest, BalloonComesAfterTheDelayAndGoesAfterTheTimeout)
{
    const std::vector<SimEvent> icons = run().Of("icon");
    const auto found = std::find_if(icons.begin(), icons.end(),
                                    [](const SimEvent& event) { return event.Text("picture") == "found"; });
    ASSERT_NE(found, icons.end());
    const std::vector<SimEvent> shown = run().Of("balloon-shown");
    const std::vector<SimEvent> removed = run().Of("balloon-removed");
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(shown[0].Text("title"), "Rain Song");
    EXPECT_EQ(shown[0].Text("text"), "Click here for lyrics");

    // The song that was found started playing before its lookup began.
    const SimEvent* started = nullptr;
    for (const SimEvent& event : run().events) {
        if (event.t > found->t)
            break;
        if (event.event == "play-state" && event.Text("title") == "Rain Song")
            started = &event;
    }
    ASSERT_TRUE(started);

    // Two seconds each, in whole seconds of the clock and checked once a tick: one to three
    // ticks later, never in the same tick, and far from the defaults of 5 and 7 seconds. A slow
    // machine delays ticks, which only lowers the count. In time, a delay counted from a whole
    // second at or before the lookup's start is more than one second after the song started,
    // however long the lookup itself took; the display time likewise counts from a whole
    // second at or before the balloon showed.
    EXPECT_GE(shown[0].polls - found->polls, 1);
    EXPECT_LE(shown[0].polls - found->polls, 3);
    EXPECT_GE(shown[0].t - started->t, 1.0);
    EXPECT_GE(removed[0].polls - shown[0].polls, 1);
    EXPECT_LE(removed[0].polls - shown[0].polls, 3);
    EXPECT_GE(removed[0].t - shown[0].t, 1.0);
}

TEST_F(MainRoadTest, DoubleClickOpensTheFoundPage)
{
    const std::vector<SimEvent> clicks = run().Of("user");
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0].Text("action"), "double-click");
    const std::vector<SimEvent> opened = run().Of("open");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].Text("address"), kRainSongPage);
    EXPECT_FALSE(opened[0].Flag("hasVerb"));
    EXPECT_EQ(opened[0].Number("show"), kShowNormally);
    EXPECT_FALSE(opened[0].Flag("forwarded"));
    EXPECT_GE(opened[0].t, clicks[0].t);
    EXPECT_LT(opened[0].t - clicks[0].t, 1.0);
}

TEST_F(MainRoadTest, TheFirstLoadOfTheDayAsksForTheVersionOnce)
{
    EXPECT_EQ(run().VersionQueries(), 1);
}

TEST_F(MainRoadTest, SettingsAreInTheRegistryAfterTheRun)
{
    const struct {
        const char* name;
        DWORD value;
    } kStored[] = {
        {"Tip enabled", 1},
        {"Check updates", 1},
        {"Balloon delay", 2},
        {"Balloon timeout", 2},
    };
    for (const auto& [name, value] : kStored) {
        SCOPED_TRACE(name);
        // Type and bytes alike: a REG_DWORD of four bytes holding the value.
        EXPECT_EQ(ReadSetting(name), std::optional<StoredValue>(Number(value)));
    }
    // The day's check was made during the run.
    const std::optional<StoredValue> lastCheck = ReadSetting("Last update check");
    ASSERT_TRUE(lastCheck);
    EXPECT_EQ(lastCheck->type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(lastCheck->data.size(), 8u);
    EXPECT_GE(lastCheck->Number(), run().startedAt - 1);
    EXPECT_LE(lastCheck->Number(), run().endedAt + 1);
}

TEST_F(MainRoadTest, PluginGivesEverythingBackAtTheEnd)
{
    const SimEvent* held = First(run().events, "player-objects");
    ASSERT_TRUE(held);
    EXPECT_EQ(held->Number("held"), 0);
    const SimEvent* unloaded = First(run().events, "unload");
    ASSERT_TRUE(unloaded);
    EXPECT_TRUE(unloaded->Flag("unloaded"));
}

// --- The update question, from a DLL loaded by path ------------------------------------------

struct AnswerCase {
    const char* name;
    const char* button;
    bool opensDownloadPage;
    std::int64_t checkUpdatesAfter;
};

void PrintTo(const AnswerCase& c, std::ostream* out)
{
    *out << c.name;
}

class UpdateQuestionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string problem;
        ASSERT_TRUE(m_scope.Open(problem)) << problem;
        ASSERT_TRUE(m_scope.Service().setVersion("2.2"));
        ASSERT_TRUE(StartSettings({{"Tip enabled", 0}, {"Check updates", 1}}));
    }
    void TearDown() override { DeleteSettingsKey(); }

    SimRun RunAnswering(const char* button)
    {
        const std::string playlist = WritePlaylist("wait 0.5\nanswer \"Update found\" \""s + button + "\"\nwait 1\n");
        SimRun run = RunSimulator({"--dll", DllPath(), playlist}, m_scope.Service());
        ::DeleteFileA(playlist.c_str());
        return run;
    }

    ServiceScope m_scope;
};

class UpdateAnswerTest : public UpdateQuestionTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(UpdateAnswerTest, FirstTickAsksAndTheAnswerTakesEffect)
{
    const AnswerCase& c = GetParam();
    const SimRun run = RunAnswering(c.button);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Problems(), std::vector<std::string>());
    EXPECT_EQ(run.VersionQueries(), 1);

    const std::vector<SimEvent> dialogs = run.Of("dialog-opened");
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].Text("caption"), "Update found");
    EXPECT_EQ(dialogs[0].List("texts"),
              std::vector<std::string>{
                  "There is a new version of Tunelore plugin (v2.2). Do you want to download it now?"});
    EXPECT_EQ(dialogs[0].List("buttons"), (std::vector<std::string>{"Yes", "Later", "Don't Ask Again"}));
    // Asked in the tick that polled the player first.
    EXPECT_EQ(dialogs[0].polls, 1);
    EXPECT_TRUE(First(run.events, "dialog-closed"));

    const std::vector<SimEvent> opened = run.Of("open");
    if (c.opensDownloadPage) {
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].Text("address"), DllString(IDS_DOWNLOAD_PAGE));
    } else {
        EXPECT_TRUE(opened.empty());
    }
    const std::optional<StoredValue> checkUpdates = ReadSetting("Check updates");
    ASSERT_TRUE(checkUpdates);
    EXPECT_EQ(checkUpdates->Number(), c.checkUpdatesAfter);
}

INSTANTIATE_TEST_SUITE_P(Answers, UpdateAnswerTest,
                         ::testing::Values(AnswerCase{"YesOpensTheDownloadPage", "Yes", true, 1},
                                           AnswerCase{"LaterOnlyCloses", "Later", false, 1},
                                           AnswerCase{"DontAskAgainSwitchesTheCheckOff", "Don't Ask Again", false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateQuestionTest, SecondLoadTheSameDayAsksNothing)
{
    const SimRun first = RunAnswering("Later");
    ASSERT_EQ(first.VersionQueries(), 1);
    const std::optional<StoredValue> checked = ReadSetting("Last update check");
    ASSERT_TRUE(checked);

    ASSERT_TRUE(m_scope.Service().reset());
    ASSERT_TRUE(m_scope.Service().setVersion("2.2"));
    const std::string playlist = WritePlaylist("wait 3.5\n");
    const SimRun second = RunSimulator({"--dll", DllPath(), playlist}, m_scope.Service());
    ::DeleteFileA(playlist.c_str());

    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.VersionQueries(), 0);
    EXPECT_TRUE(second.Of("dialog-opened").empty());
    // The first ticks came and went without a check.
    const SimEvent* end = First(second.events, "playlist-end");
    ASSERT_TRUE(end);
    EXPECT_GE(end->polls, 2);
    const std::optional<StoredValue> stillChecked = ReadSetting("Last update check");
    ASSERT_TRUE(stillChecked);
    EXPECT_EQ(stillChecked->Number(), checked->Number());
}

// --- Page addresses that are no web pages ----------------------------------------------------

struct AddressCase {
    const char* name;
    const char* address;
};

void PrintTo(const AddressCase& c, std::ostream* out)
{
    *out << c.name;
}

class UnsafeAddressTest : public ::testing::TestWithParam<AddressCase> {
protected:
    void SetUp() override
    {
        std::string problem;
        ASSERT_TRUE(m_scope.Open(problem)) << problem;
        ASSERT_TRUE(StartSettings({{"Tip enabled", 1}, {"Check updates", 0}, {"Balloon delay", 0},
                                   {"Balloon timeout", 10}}));
    }
    void TearDown() override { DeleteSettingsKey(); }

    ServiceScope m_scope;
};

TEST_P(UnsafeAddressTest, NeitherBalloonNorIconOpensIt)
{
    ASSERT_TRUE(m_scope.Service().scheduleNext(
        {{"body", "<title>Rain Song</title>\n<url>"s + GetParam().address + "</url>"}}));
    const SimRun run = RunSimulator({"--dll", DllPath(), PlaylistPath("unsafe_address.txt")}, m_scope.Service());

    // Both clicks reached the icon: the balloon was there to be clicked.
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Problems(), std::vector<std::string>());
    std::vector<std::string> actions;
    for (const SimEvent& event : run.Of("user"))
        actions.push_back(event.Text("action"));
    EXPECT_EQ(actions, (std::vector<std::string>{"balloon-click", "double-click"}));
    ASSERT_EQ(run.Of("balloon-shown").size(), 1u);
    EXPECT_EQ(run.Of("balloon-removed").size(), 1u);
    EXPECT_TRUE(run.Of("open").empty());
}

INSTANTIATE_TEST_SUITE_P(Addresses, UnsafeAddressTest,
                         ::testing::Values(AddressCase{"FileAddress", "file:///C:/Windows/notepad.exe"},
                                           AddressCase{"LocalProgram", "C:\\Windows\\notepad.exe"}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The tray menu, and registrations while the player runs ---------------------------------

// One run: the user opens the menu and chooses the home page, while the test registers and
// unregisters the DLL from outside.
class MenuAndRegistrationTest : public SharedRunTest<MenuAndRegistrationTest> {
protected:
    static void SetUpTestSuite()
    {
        if (!PrepareRun({{"Tip enabled", 0}, {"Check updates", 0}}))
            return;
        // Whatever an earlier run left registered goes first.
        Regsvr32(true);
        SimulatorProcess process;
        if (!process.Start({"--dll", DllPath(), PlaylistPath("menu_home.txt")})) {
            s_problem = "the simulator does not start";
            return;
        }
        const auto created = process.WaitForEvent(
            [](const SimEvent& e) { return e.event == "plugin-call" && e.Text("call") == "Create"; }, kEventWaitMs);
        const int registered = created ? Regsvr32(false) : -1;
        const auto heardRegistration = process.WaitForEvent(
            [](const SimEvent& e) { return e.event == "plugins-changed" && e.Text("clsid") == kClassId; },
            kEventWaitMs);
        const int unregistered = Regsvr32(true);
        const auto heardUnregistration = process.WaitForEvent(
            [](const SimEvent& e) { return e.event == "plugins-changed" && e.Text("clsid").empty(); }, kEventWaitMs);
        if (!process.Wait(kRunLimitMs) || !created || registered != 0 || unregistered != 0)
            s_problem = "the run or the registrations did not go through";
        s_run = std::make_unique<SimRun>();
        s_run->exitCode = process.ExitCode();
        s_run->events = process.Events();
        s_scope->Service().requests(s_run->requests);
        s_heardBoth = heardRegistration && heardUnregistration;
        Show(process);
    }

    static inline bool s_heardBoth = false;
};

TEST_F(MenuAndRegistrationTest, PlayerHearsEachRegistrationAndReadsItsPluginsAgain)
{
    EXPECT_TRUE(s_heardBoth);
    const std::vector<SimEvent> heard = s_run->Of("plugin-add-remove");
    EXPECT_GE(heard.size(), 2u);
    const std::vector<SimEvent> lists = s_run->Of("plugins-changed");
    ASSERT_FALSE(lists.empty());
    EXPECT_EQ(lists.front().Text("clsid"), kClassId);
    EXPECT_EQ(lists.front().Text("name"), "Tunelore plugin");
    EXPECT_EQ(lists.back().Text("clsid"), "");
}

TEST_F(MenuAndRegistrationTest, ClickOpensTheMenuWhoseHomeItemOpensTheHomePage)
{
    EXPECT_EQ(s_run->exitCode, 0);
    EXPECT_EQ(s_run->Problems(), std::vector<std::string>());
    const SimEvent* click = First(s_run->events, "user");
    const SimEvent* menu = First(s_run->events, "menu-opened");
    ASSERT_TRUE(click);
    ASSERT_TRUE(menu);
    EXPECT_EQ(click->Text("action"), "click");
    EXPECT_EQ(menu->List("items"),
              (std::vector<std::string>{"Quillmark Home", "----", "Enable Balloon", "Settings"}));
    // The menu waits for the click timer, so that a double-click never opens it; the upper
    // bound only catches a menu that waits for something else, and allows for a loaded machine.
    EXPECT_GE(menu->t - click->t, 0.25);
    EXPECT_LT(menu->t - click->t, 5.0);

    const std::vector<SimEvent> opened = s_run->Of("open");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].Text("address"), DllString(IDS_HOME_PAGE));
    EXPECT_FALSE(opened[0].Flag("forwarded"));
    EXPECT_TRUE(First(s_run->events, "menu-closed"));
}

}  // namespace
