// The poll against the fake player: when a lookup starts, what the captured record holds, and
// what a player that fails or answers oddly changes (nothing).
#include "lookup/ilyrics_lookup.h"
#include "plugin/player_poll.h"
#include "plugin/tunelore_plugin.h"
#include "tests/win/recording_lookup.h"
#include "tools/fake_player/fake_player.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <climits>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

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

    // One tick after another song: even a record that equals the key after load is new, and
    // is looked up.
    void PollAfterAnotherSong()
    {
        g_lastTrackKey = "previous";
        PollPlayers();
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

// input: null: the item has no "MediaType"
using MediaTypeCase = TableRow<const wchar_t*, bool>;

class MediaTypeTest : public PlayerPollTest, public ::testing::WithParamInterface<MediaTypeCase> {};

TEST_P(MediaTypeTest, OnlyAudioAndRadioAreCaptured)
{
    const MediaTypeCase& c = GetParam();
    Play(c.input ? Song(L"The Lanterns", L"Rain Song", c.input)
                 : FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", L"Rain Song"}}, std::nullopt));
    PollPlayers();
    if (c.expected) {
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
                         RowName{});

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

using ArtistCase = TableRow<std::vector<FakeAttribute>, std::string>;

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
    Play(FakeMedia::Create(GetParam().input, L"audio"));
    PollPlayers();
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].artist, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    AuthorAndAlbumArtist, ArtistPrecedenceTest,
    ::testing::Values(
        ArtistCase{"AlbumArtistAfterAuthor", Padded({{3, {L"Author", L"A"}}, {10, {L"AlbumArtist", L"B"}}}), "B"},
        ArtistCase{"AuthorAfterAlbumArtist", Padded({{3, {L"AlbumArtist", L"B"}}, {10, {L"Author", L"A"}}}), "A"},
        ArtistCase{"EmptyAlbumArtistKeepsAuthor", Padded({{3, {L"Author", L"A"}}, {10, {L"AlbumArtist", L""}}}),
                   "A"},
        ArtistCase{"OnlyAlbumArtist", Padded({{5, {L"AlbumArtist", L"B"}}}), "B"}),
    RowName{});

struct FailingCallCase {
    const char* name;
    PlayerCall call;
    std::string expectedTitle;
    std::string expectedUrl;
};

const FailingCallCase kFailingCalls[] = {
    {"CurrentMedia", PlayerCall::GetCurrentMedia, "", ""},
    {"MediaTypeInfo", PlayerCall::GetItemInfo, "", ""},
    {"AttributeCount", PlayerCall::GetAttributeCount, "", ""},
    {"AttributeName", PlayerCall::GetAttributeName, "", "C:\\Music\\song.mp3"},
    {"SourceUrl", PlayerCall::GetSourceUrl, "Rain Song", ""},
};

class FailingPlayerCallTest : public PlayerPollTest, public ::testing::WithParamInterface<FailingCallCase> {
protected:
    // One poll of a song whose call of the case fails, answering as given; the record it gave.
    void PollWithTheCallFailing(InjectedAnswer answer)
    {
        com_ptr<FakeMedia> item = Song(L"The Lanterns", L"Rain Song");
        item->InjectResult(GetParam().call, E_FAIL, answer);
        m_core->InjectResult(GetParam().call, E_FAIL, answer);
        // The key after load is empty, so a record that still has something is looked up.
        g_lastTrackKey = "something else";
        Play(item);
        PollPlayers();
        ASSERT_EQ(m_lookup.lookups.size(), 1u);
        EXPECT_EQ(m_lookup.lookups[0].title, GetParam().expectedTitle);
        EXPECT_EQ(m_lookup.lookups[0].sourceUrl, GetParam().expectedUrl);
    }
};

TEST_P(FailingPlayerCallTest, GivesAnEmptierRecordNeverACrash)
{
    PollWithTheCallFailing(InjectedAnswer::Withheld);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, FailingPlayerCallTest, ::testing::ValuesIn(kFailingCalls),
    RowName{});

TEST_F(PlayerPollTest, CurrentMediaThatSucceedsWithoutAnItemGivesAnEmptyRecord)
{
    m_core->SetPlayState(wmppsPlaying);
    PollAfterAnotherSong();
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
    PollAfterAnotherSong();
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].title, "");
    EXPECT_EQ(m_lookup.lookups[0].sourceUrl, "C:\\Music\\song.mp3");
    EXPECT_EQ(item->CallCount(PlayerCall::GetAttributeName), 0);
}

// --- A hostile player -----------------------------------------------------------------------

TEST_F(PlayerPollTest, EveryCallSucceedingWithNothingInItsOutValuesCapturesNothing)
{
    Play(Song(L"The Lanterns", L"Rain Song"));
    // A play state of "nothing" is the undefined state: the player counts as not playing.
    m_core->InjectEveryResult(S_OK, InjectedAnswer::Withheld);
    PollPlayers();
    EXPECT_EQ(m_lookup.stopped, 1);
    EXPECT_TRUE(m_lookup.lookups.empty());

    // Playing, but every answer about the item is empty: the empty record, once.
    m_core->ClearInjectedResults();
    m_core->InjectResult(PlayerCall::GetCurrentMedia, S_OK, InjectedAnswer::Withheld);
    g_lastTrackKey = "previous";
    PollTimes(2);
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].title + m_lookup.lookups[0].sourceUrl, "");

    com_ptr<FakeMedia> item = Song(L"The Lanterns", L"Rain Song");
    item->InjectEveryResult(S_OK, InjectedAnswer::Withheld);
    m_core->ClearInjectedResults();
    Play(item);
    PollAfterAnotherSong();
    ASSERT_EQ(m_lookup.lookups.size(), 2u);
    const Track& empty = m_lookup.lookups[1];
    EXPECT_EQ(empty.title + empty.artist + empty.album + empty.sourceUrl, "");
    EXPECT_EQ(g_lastTrackKey, "");
    EXPECT_FALSE(m_core->JunkTouched());
}

class JunkInFailedCallTest : public FailingPlayerCallTest {};

// The junk a failing call leaves would make a song of anything (media type "audio"), name a
// wanted attribute ("Title"), or give a value or address ("JUNK"); freed, it would corrupt
// the heap. The record comes out as if the call had left nothing.
TEST_P(JunkInFailedCallTest, IsNeitherBelievedNorFreed)
{
    PollWithTheCallFailing(InjectedAnswer::Junk);
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].artist.find("JUNK"), std::string::npos);
    EXPECT_FALSE(m_core->JunkTouched());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, JunkInFailedCallTest, ::testing::ValuesIn(kFailingCalls),
    RowName{});

TEST_F(PlayerPollTest, JunkValueOfAFailedReadLeavesTheField)
{
    // The media type answers; from the count on, every value read fails and leaves junk.
    com_ptr<FakeMedia> item = Song(L"The Lanterns", L"Rain Song");
    item->OnNextCall(PlayerCall::GetAttributeCount, [&item] {
        item->InjectResult(PlayerCall::GetItemInfo, E_FAIL, InjectedAnswer::Junk);
    });
    Play(item);
    PollAfterAnotherSong();
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].title, "");
    EXPECT_EQ(m_lookup.lookups[0].artist, "");
    EXPECT_EQ(m_lookup.lookups[0].sourceUrl, "C:\\Music\\song.mp3");
    EXPECT_GT(item->CallCount(PlayerCall::GetItemInfo), 1);
}

TEST_F(PlayerPollTest, FailedPlayStateWithJunkStartsNothing)
{
    Play(Song(L"The Lanterns", L"Rain Song"));
    m_core->SetPlayState(wmppsStopped);
    m_core->InjectResult(PlayerCall::GetPlayState, E_FAIL, InjectedAnswer::Junk);
    PollTimes(2);
    EXPECT_EQ(m_lookup.stopped, 0);
    EXPECT_TRUE(m_lookup.lookups.empty());
    EXPECT_EQ(m_core->CallCount(PlayerCall::GetCurrentMedia), 0);
}

struct EmbeddedNulCase {
    const char* name;
    std::vector<FakeAttribute> attributes;
    std::optional<std::wstring> mediaType;
    std::optional<std::wstring> sourceUrl;
    bool lookedUp;
    std::string title;
    std::string artist;
    std::string sourceUrlSeen;
};

using namespace std::string_literals;

class EmbeddedNulTest : public PlayerPollTest, public ::testing::WithParamInterface<EmbeddedNulCase> {};

// The player's strings carry their length; the plug-in's texts end at the first zero, and the
// player's comparison sees the whole string.
TEST_P(EmbeddedNulTest, TextsEndAtTheFirstZero)
{
    const EmbeddedNulCase& c = GetParam();
    Play(FakeMedia::Create(c.attributes, c.mediaType, c.sourceUrl));
    PollAfterAnotherSong();
    if (!c.lookedUp) {
        ASSERT_EQ(m_lookup.lookups.size(), 1u);
        EXPECT_EQ(m_lookup.lookups[0].title + m_lookup.lookups[0].artist + m_lookup.lookups[0].sourceUrl, "");
        return;
    }
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].title, c.title);
    EXPECT_EQ(m_lookup.lookups[0].artist, c.artist);
    EXPECT_EQ(m_lookup.lookups[0].sourceUrl, c.sourceUrlSeen);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EmbeddedNulTest,
    ::testing::Values(
        EmbeddedNulCase{"ValuesAreCutAtTheZero",
                        {{L"Title", L"Rain\0Song"s}, {L"Author", L"The\0Lanterns"s}},
                        L"audio", L"C:\\a\0b.mp3"s, true, "Rain", "The", "C:\\a"},
        EmbeddedNulCase{"ValueStartingWithZeroIsEmpty",
                        {{L"Title", L"\0Rain Song"s}, {L"Title", L"Kept"}, {L"Author", L"A"}},
                        L"audio", std::nullopt, true, "", "A", ""},
        EmbeddedNulCase{"MediaTypeWithATailIsNotAudio", {{L"Title", L"Rain Song"}}, L"audio\0video"s,
                        std::nullopt, false, "", "", ""},
        EmbeddedNulCase{"AttributeNameWithATailIsAnotherName",
                        {{L"Title\0Extra"s, L"Rain Song"}, {L"Author", L"A"}}, L"audio", std::nullopt, true, "",
                        "A", ""}),
    RowName{});

// Names whose comparison only the OLE call can answer: the answer is remembered per index from
// tick to tick, and a different name at the same index is asked about again. A name the
// comparison finds equal to "Title" has its value asked for under "Title".
TEST_F(PlayerPollTest, UncertainNamesGetTheOleAnswerOnEveryTick)
{
    const std::wstring names[] = {L"Ti\u00adtle", L"T\u00edtle", L"Title\u200b", L"Ti-tle", L"Ti\u00adtle", L"Title"};
    int answersEqual = 0;
    for (const std::wstring& name : names) {
        const unique_bstr asked(::SysAllocStringLen(name.data(), static_cast<UINT>(name.size())));
        const unique_bstr wanted(::SysAllocString(L"Title"));
        const bool equal = ::VarBstrCmp(asked.get(), wanted.get(), LOCALE_USER_DEFAULT, 0) ==
                           static_cast<HRESULT>(VARCMP_EQ);
        answersEqual += equal;
        const com_ptr<FakeMedia> item = FakeMedia::Create({{name, L"Rain Song"}, {L"Author", L"A"}}, L"audio");
        Play(item);
        for (int tick = 0; tick < 2; ++tick) {
            item->ResetCallCounts();
            m_plugin->CaptureTrack();
            // The media type, the author, and the title if the name is taken for it.
            EXPECT_EQ(item->CallCount(PlayerCall::GetItemInfo), equal ? 3 : 2)
                << "name " << &name - names << ", tick " << tick;
        }
    }
    // The table holds both answers, so a remembered answer of the wrong name would show.
    EXPECT_GT(answersEqual, 0);
    EXPECT_LT(answersEqual, static_cast<int>(std::size(names)));
}

// The answers remembered for an index hold only for the text they were given for: a name that
// changes at its index between ticks is compared afresh, whether it differs from the last one
// in its first, middle or last eight bytes, in length, or only for the OLE comparison.
TEST_F(PlayerPollTest, ANameThatChangesAtItsIndexIsComparedAfresh)
{
    const std::wstring names[] = {L"Title",         L"Titlf",         L"Title",         L"Xitle",
                                  L"Title",         L"TitleX",        L"Title",         L"WM/AlbumTitle",
                                  L"WM/AlbumTitlf", L"WM/AlbumTitle", L"WM/AlbumTXtle", L"WM/AlbumTitle",
                                  L"Ti\u00adtle",   L"Title",         L"",              L"Title"};
    const wchar_t* const wantedNames[] = {L"Author",  L"Title",          L"AlbumArtist", L"WM/AlbumTitle",
                                          L"WM/Year", L"WM/TrackNumber", L"WM/Genre"};
    const com_ptr<FakeMedia> item = FakeMedia::Create({}, L"audio");
    Play(item);
    for (const std::wstring& name : names) {
        const unique_bstr asked(::SysAllocStringLen(name.data(), static_cast<UINT>(name.size())));
        bool taken = false;
        for (const wchar_t* wanted : wantedNames) {
            const unique_bstr row(::SysAllocString(wanted));
            taken |= ::VarBstrCmp(asked.get(), row.get(), LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ);
        }
        item->SetAttributes({{name, L"Night Drive"}, {L"Author", L"A"}, {L"MediaType", L"audio"}});
        for (int tick = 0; tick < 2; ++tick) {
            item->ResetCallCounts();
            m_plugin->CaptureTrack();
            // The media type, the author, and the value of the changing name if it is taken.
            EXPECT_EQ(item->CallCount(PlayerCall::GetItemInfo), taken ? 3 : 2)
                << "name " << &name - names << ", tick " << tick;
        }
    }
}

// The player lets go of its core while the capture still holds the core's item: the player
// calls back into the plug-in from inside the item's call, and the orphaned item fails from
// then on, leaving junk behind.
TEST_F(PlayerPollTest, CoreReleasedWhileItsItemIsHeldEndsTheCaptureQuietly)
{
    com_ptr<FakeMedia> item = Song(L"The Lanterns", L"Rain Song");
    item->AnswerOnceCoreIsGone(RPC_E_DISCONNECTED, InjectedAnswer::Junk);
    Play(item);
    item->OnNextCall(PlayerCall::GetAttributeName, [this] {
        m_plugin->SetCore(nullptr);
        m_core.reset();
        EXPECT_EQ(FakeCore::LiveObjects(), 0);
    });
    item.reset();
    PollAfterAnotherSong();
    // The address came before the core went; every name read after it failed.
    ASSERT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.lookups[0].title, "");
    EXPECT_EQ(m_lookup.lookups[0].sourceUrl, "C:\\Music\\song.mp3");
    EXPECT_EQ(FakeMedia::LiveObjects(), 0);

    // Without a core the object is skipped from now on.
    PollTimes(2);
    EXPECT_EQ(m_lookup.lookups.size(), 1u);
    EXPECT_EQ(m_lookup.stopped, 0);
}

}  // namespace
