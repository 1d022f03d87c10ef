// The poll against the fake player: when a lookup starts, what the captured record holds, and
// what a player that fails or answers oddly changes (nothing).
#include "plugin/ilyrics_lookup.h"
#include "plugin/player_poll.h"
#include "plugin/tunelore_plugin.h"
#include "tools/fake_player/fake_player.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

class RecordingLookup : public ILyricsLookup {
public:
    void lookUp(Track track) override { lookups.push_back(std::move(track)); }
    void playbackStopped() override { ++stopped; }
    void showSettings() override {}

    std::vector<Track> lookups;
    int stopped = 0;
};

com_ptr<FakeMedia> Song(const wchar_t* artist, const wchar_t* title, const wchar_t* mediaType = L"audio")
{
    return FakeMedia::Create({{L"Author", artist}, {L"Title", title}}, mediaType, L"C:\\Music\\song.mp3");
}

class PlayerPollTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_lookup = &m_lookup;
        g_lastTrackKey.clear();
        m_core = FakeCore::Create();
        m_plugin = std::make_unique<TunelorePlugin>();
        m_plugin->SetCore(m_core.get());
    }

    void TearDown() override
    {
        m_plugin.reset();
        m_core.reset();
        g_lookup = nullptr;
        EXPECT_TRUE(g_livePlugins.empty());
        // Every item and core the poll touched was released again.
        EXPECT_EQ(FakeMedia::LiveObjects(), 0);
        EXPECT_EQ(FakeCore::LiveObjects(), 0);
    }

    void Play(const com_ptr<FakeMedia>& item)
    {
        m_core->SetCurrentMedia(item.get());
        m_core->SetPlayState(wmppsPlaying);
    }

    void PollTimes(int ticks)
    {
        for (int i = 0; i < ticks; ++i)
            PollPlayers();
    }

    RecordingLookup m_lookup;
    com_ptr<FakeCore> m_core;
    std::unique_ptr<TunelorePlugin> m_plugin;
};

TEST_F(PlayerPollTest, OneLookupPerNewItem)
{
    Play(Song(L"The Lanterns", L"Rain Song"));
    PollTimes(3);
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].artist, "The Lanterns");
    EXPECT_EQ(m_lookup.lookups[0].title, "Rain Song");
    EXPECT_EQ(g_lastTrackKey, "The LanternsRain Song");

    Play(Song(L"The Lanterns", L"Harbour Lights"));
    PollTimes(2);
    ASSERT_EQ(m_lookup.lookups.size(), 2u);
    EXPECT_EQ(m_lookup.lookups[1].title, "Harbour Lights");
    EXPECT_EQ(m_lookup.stopped, 0);
}

TEST_F(PlayerPollTest, PauseAndResumeRepeatsTheLookup)
{
    Play(Song(L"The Lanterns", L"Rain Song"));
    PollPlayers();
    m_core->SetPlayState(wmppsPaused);
    PollPlayers();
    EXPECT_EQ(m_lookup.stopped, 1);
    EXPECT_EQ(g_lastTrackKey, "");
    m_core->SetPlayState(wmppsPlaying);
    PollPlayers();
    EXPECT_EQ(m_lookup.lookups.size(), 2u);
}

TEST_F(PlayerPollTest, SameArtistAndTitleInARowStartOneLookup)
{
    Play(Song(L"The Lanterns", L"Rain Song"));
    PollPlayers();
    Play(FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", L"Rain Song"}, {L"WM/AlbumTitle", L"Live"}},
                           L"audio"));
    PollPlayers();
    EXPECT_EQ(m_lookup.lookups.size(), 1u);

    // A poll that sees the player between items forgets the last one.
    m_core->SetPlayState(wmppsTransitioning);
    PollPlayers();
    m_core->SetPlayState(wmppsPlaying);
    PollPlayers();
    EXPECT_EQ(m_lookup.lookups.size(), 2u);
}

TEST_F(PlayerPollTest, StoppedPlayerIsReportedOnEveryTick)
{
    for (WMPPlayState state : {wmppsUndefined, wmppsStopped, wmppsPaused, wmppsBuffering, wmppsWaiting,
                               wmppsMediaEnded, wmppsReady}) {
        m_core->SetPlayState(state);
        PollTimes(2);
    }
    EXPECT_EQ(m_lookup.stopped, 14);
    EXPECT_TRUE(m_lookup.lookups.empty());
    // Only the play state is asked for while nothing plays.
    EXPECT_EQ(m_core->CallCount(PlayerCall::GetCurrentMedia), 0);
}

TEST_F(PlayerPollTest, PlayStateWithoutAnAnswerChangesNothing)
{
    Play(Song(L"The Lanterns", L"Rain Song"));
    PollPlayers();
    m_core->SetPlayState(wmppsStopped);
    for (HRESULT result : {S_FALSE, E_FAIL, RPC_E_DISCONNECTED}) {
        m_core->InjectResult(PlayerCall::GetPlayState, result, InjectedAnswer::Given);
        PollPlayers();
    }
    EXPECT_EQ(m_lookup.stopped, 0);
    EXPECT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(g_lastTrackKey, "The LanternsRain Song");
}

TEST_F(PlayerPollTest, PluginWithoutACoreIsSkipped)
{
    TunelorePlugin coreless;
    Play(Song(L"The Lanterns", L"Rain Song"));
    PollPlayers();
    EXPECT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_core->CallCount(PlayerCall::GetPlayState), 1);

    m_plugin->SetCore(nullptr);
    PollTimes(3);
    EXPECT_EQ(m_core->CallCount(PlayerCall::GetPlayState), 1);
    EXPECT_EQ(m_lookup.stopped, 0);
}

TEST_F(PlayerPollTest, TwoPluginsAreBothPolledAndLeaveOnlyTheirOwnEntry)
{
    com_ptr<FakeCore> second = FakeCore::Create();
    auto other = std::make_unique<TunelorePlugin>();
    other->SetCore(second.get());
    ASSERT_EQ(g_livePlugins.size(), 2u);

    PollPlayers();
    EXPECT_EQ(m_core->CallCount(PlayerCall::GetPlayState), 1);
    EXPECT_EQ(second->CallCount(PlayerCall::GetPlayState), 1);

    TunelorePlugin* const first = m_plugin.get();
    other.reset();
    second.reset();
    ASSERT_EQ(g_livePlugins.size(), 1u);
    EXPECT_EQ(g_livePlugins[0], first);
}

struct MediaTypeCase {
    const char* name;
    const wchar_t* mediaType;  // null: the item has no "MediaType"
    bool lookedUp;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const MediaTypeCase& c, std::ostream* os) { *os << c.name; }

class MediaTypeTest : public PlayerPollTest, public ::testing::WithParamInterface<MediaTypeCase> {};

TEST_P(MediaTypeTest, OnlyAudioAndRadioAreCaptured)
{
    const MediaTypeCase& c = GetParam();
    Play(c.mediaType ? Song(L"The Lanterns", L"Rain Song", c.mediaType)
                     : FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", L"Rain Song"}}, std::nullopt));
    PollPlayers();
    if (c.lookedUp) {
        ASSERT_EQ(m_lookup.lookups.size(), 1u);
        EXPECT_EQ(m_lookup.lookups[0].title, "Rain Song");
    } else {
        // The empty record gives the empty key, which equals the key after load: no lookup.
        EXPECT_TRUE(m_lookup.lookups.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, MediaTypeTest,
                         ::testing::Values(MediaTypeCase{"Audio", L"audio", true},
                                           MediaTypeCase{"Radio", L"radio", true},
                                           MediaTypeCase{"Video", L"video", false},
                                           MediaTypeCase{"CapitalisedAudio", L"Audio", false},
                                           MediaTypeCase{"AudioWithSpace", L"audio ", false},
                                           MediaTypeCase{"Empty", L"", false},
                                           MediaTypeCase{"Absent", nullptr, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerPollTest, VideoAfterASongLooksUpAnEmptyRecordOnce)
{
    Play(Song(L"The Lanterns", L"Rain Song"));
    PollPlayers();
    Play(Song(L"Someone", L"Some Clip", L"video"));
    PollTimes(3);
    ASSERT_EQ(m_lookup.lookups.size(), 2u);
    const Track& empty = m_lookup.lookups[1];
    EXPECT_EQ(empty.title + empty.artist + empty.trackNumber + empty.album + empty.year + empty.genre +
                  empty.sourceUrl,
              "");
}

TEST_F(PlayerPollTest, CaptureFillsEveryFieldFromItsAttribute)
{
    Play(FakeMedia::Create({{L"WM/Genre", L"Pop"},
                            {L"Title", L"Rain Song"},
                            {L"WM/TrackNumber", L"07"},
                            {L"Author", L"The Lanterns"},
                            {L"WM/Year", L"1999"},
                            {L"Duration", L"215"},
                            {L"WM/AlbumTitle", L"Night Drive!"}},
                           L"audio", L"C:\\Music\\07 Rain Song.mp3"));
    PollPlayers();
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    const Track& t = m_lookup.lookups[0];
    EXPECT_EQ(t.title, "Rain Song");
    EXPECT_EQ(t.artist, "The Lanterns");
    EXPECT_EQ(t.trackNumber, "07");
    EXPECT_EQ(t.album, "Night Drive!");
    EXPECT_EQ(t.year, "1999");
    EXPECT_EQ(t.genre, "Pop");
    EXPECT_EQ(t.sourceUrl, "C:\\Music\\07 Rain Song.mp3");
}

TEST_F(PlayerPollTest, EmptyOrAbsentValuesNeverClearAField)
{
    Play(FakeMedia::Create({{L"Title", L"Rain Song"}, {L"Title", L""}, {L"Title", std::nullopt},
                            {std::nullopt, L"stray"}},
                           L"audio"));
    PollPlayers();
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].title, "Rain Song");
}

struct ArtistCase {
    const char* name;
    std::vector<FakeAttribute> attributes;
    std::string artist;
};

void PrintTo(const ArtistCase& c, std::ostream* os) { *os << c.name; }

std::vector<FakeAttribute> Padded(std::vector<std::pair<int, FakeAttribute>> placed)
{
    std::vector<FakeAttribute> attributes(12, FakeAttribute{L"Other", L"x"});
    for (auto& [index, attribute] : placed)
        attributes[static_cast<size_t>(index)] = attribute;
    return attributes;
}

class ArtistPrecedenceTest : public PlayerPollTest, public ::testing::WithParamInterface<ArtistCase> {};

TEST_P(ArtistPrecedenceTest, HigherIndexWins)
{
    // getItemInfo answers the first attribute of a name, so each name appears once.
    Play(FakeMedia::Create(GetParam().attributes, L"audio"));
    PollPlayers();
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].artist, GetParam().artist);
}

INSTANTIATE_TEST_SUITE_P(
    AuthorAndAlbumArtist, ArtistPrecedenceTest,
    ::testing::Values(
        ArtistCase{"AlbumArtistAfterAuthor", Padded({{3, {L"Author", L"A"}}, {10, {L"AlbumArtist", L"B"}}}), "B"},
        ArtistCase{"AuthorAfterAlbumArtist", Padded({{3, {L"AlbumArtist", L"B"}}, {10, {L"Author", L"A"}}}), "A"},
        ArtistCase{"EmptyAlbumArtistKeepsAuthor", Padded({{3, {L"Author", L"A"}}, {10, {L"AlbumArtist", L""}}}),
                   "A"},
        ArtistCase{"OnlyAlbumArtist", Padded({{5, {L"AlbumArtist", L"B"}}}), "B"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailingCallCase {
    const char* name;
    PlayerCall call;
    std::string expectedTitle;
    std::string expectedUrl;
};

void PrintTo(const FailingCallCase& c, std::ostream* os) { *os << c.name; }

class FailingPlayerCallTest : public PlayerPollTest, public ::testing::WithParamInterface<FailingCallCase> {};

TEST_P(FailingPlayerCallTest, GivesAnEmptierRecordNeverACrash)
{
    com_ptr<FakeMedia> item = Song(L"The Lanterns", L"Rain Song");
    item->InjectResult(GetParam().call, E_FAIL, InjectedAnswer::Withheld);
    m_core->InjectResult(GetParam().call, E_FAIL, InjectedAnswer::Withheld);
    // The key after load is empty, so a record that still has something is looked up.
    g_lastTrackKey = "something else";
    Play(item);
    PollPlayers();
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].title, GetParam().expectedTitle);
    EXPECT_EQ(m_lookup.lookups[0].sourceUrl, GetParam().expectedUrl);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FailingPlayerCallTest,
    ::testing::Values(FailingCallCase{"CurrentMedia", PlayerCall::GetCurrentMedia, "", ""},
                      FailingCallCase{"MediaTypeInfo", PlayerCall::GetItemInfo, "", ""},
                      FailingCallCase{"AttributeCount", PlayerCall::GetAttributeCount, "", ""},
                      FailingCallCase{"AttributeName", PlayerCall::GetAttributeName, "", "C:\\Music\\song.mp3"},
                      FailingCallCase{"SourceUrl", PlayerCall::GetSourceUrl, "Rain Song", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerPollTest, CurrentMediaThatSucceedsWithoutAnItemGivesAnEmptyRecord)
{
    m_core->SetPlayState(wmppsPlaying);
    g_lastTrackKey = "previous";
    PollPlayers();
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].title, "");
}

TEST_F(PlayerPollTest, AbsurdAttributeCountDoesNotHoldTheThread)
{
    com_ptr<FakeMedia> item = Song(L"The Lanterns", L"Rain Song");
    item->OverrideAttributeCount(LONG_MAX);
    Play(item);
    PollPlayers();
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].title, "Rain Song");
    EXPECT_LT(item->CallCount(PlayerCall::GetAttributeName), 100000);
}

TEST_F(PlayerPollTest, NegativeAttributeCountReadsNoIndex)
{
    com_ptr<FakeMedia> item = Song(L"The Lanterns", L"Rain Song");
    item->OverrideAttributeCount(-5);
    Play(item);
    g_lastTrackKey = "previous";
    PollPlayers();
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].title, "");
    EXPECT_EQ(m_lookup.lookups[0].sourceUrl, "C:\\Music\\song.mp3");
    EXPECT_EQ(item->CallCount(PlayerCall::GetAttributeName), 0);
}

}  // namespace
