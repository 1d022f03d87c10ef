// The playlist's steps in action.
#include "tools/player_sim/playlist_runner.h"

#include "tools/player_sim/screenshot.h"

#include <string>
#include <utility>

namespace {

// How long a step waits for what it is to act on before the run goes on without it.
constexpr std::chrono::seconds kDialogWait{10};
constexpr std::chrono::seconds kMenuWait{5};

bool IsTimed(StepKind kind)
{
    switch (kind) {
    case StepKind::Item:
    case StepKind::Repeat:
    case StepKind::Pause:
    case StepKind::Resume:
    case StepKind::Stop:
    case StepKind::State:
    case StepKind::Wait:
        return true;
    default:
        return false;
    }
}

std::chrono::steady_clock::duration Duration(double seconds)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

PlaylistRunner::PlaylistRunner(const Playlist& playlist, RunnerParts parts)
    : m_playlist(playlist), m_parts(std::move(parts)), m_stepStart(Clock::now())
{
}

void PlaylistRunner::Heartbeat()
{
    if (m_inHeartbeat)
        return;
    m_inHeartbeat = true;
    while (!Finished()) {
        const PlaylistStep& step = m_playlist.steps[m_next];
        if (!m_started) {
            m_started = true;
            if (!IsTimed(step.kind))
                m_stepStart = Clock::now();
            if (Begin(step)) {
                Complete(step, IsTimed(step.kind));
                continue;
            }
        }
        if (!Continue(step))
            break;
        Complete(step, IsTimed(step.kind));
    }
    m_inHeartbeat = false;
}

void PlaylistRunner::Complete(const PlaylistStep& step, bool timed)
{
    // A timed step ends at its planned moment, so that heartbeats arriving late do not add up.
    m_stepStart = timed ? m_stepStart + Duration(step.seconds) : Clock::now();
    m_started = false;
    ++m_next;
}

bool PlaylistRunner::Begin(const PlaylistStep& step)
{
    Player& player = m_parts.player;
    switch (step.kind) {
    case StepKind::Item: player.Start(step.item); break;
    case StepKind::Repeat: player.Repeat(); break;
    case StepKind::Pause: player.SetState(PlayState::Paused); break;
    case StepKind::Resume: player.SetState(PlayState::Playing); break;
    case StepKind::Stop: player.SetState(PlayState::Stopped); break;
    case StepKind::State: player.SetState(step.state); break;
    case StepKind::Wait: break;
    case StepKind::Click: m_parts.user.Click(); return true;
    case StepKind::RightClick: m_parts.user.RightClick(); return true;
    case StepKind::DoubleClick: m_parts.user.DoubleClick(); return true;
    case StepKind::BalloonClick: m_parts.user.BalloonClick(); return true;
    case StepKind::Properties: m_parts.requestPropertyPage(); return true;
    case StepKind::Screenshot: {
        std::string why;
        if (SaveScreenshot(step.file, why))
            m_parts.transcript.Add("sim", "screenshot", "saved the screen to " + step.file,
                                   JsonLine().Str("file", step.file));
        else
            m_parts.transcript.Error("no screenshot: " + why);
        return true;
    }
    case StepKind::Menu:
    case StepKind::Answer:
        return false;
    }
    return Continue(step);
}

bool PlaylistRunner::Continue(const PlaylistStep& step)
{
    const Clock::duration waited = Clock::now() - m_stepStart;
    const std::string where = "line " + std::to_string(step.line) + ": ";
    switch (step.kind) {
    case StepKind::Menu: {
        if (!m_parts.desktop.OpenMenu()) {
            if (waited < kMenuWait)
                return false;
            m_parts.transcript.Error(where + "no menu opened");
            return true;
        }
        if (step.choice.empty()) {
            m_parts.desktop.CloseMenu();
            return true;
        }
        switch (m_parts.desktop.ChooseMenuItem(step.choice)) {
        case DesktopWatcher::MenuProgress::Pending: return false;
        case DesktopWatcher::MenuProgress::Chosen: return true;
        case DesktopWatcher::MenuProgress::NoSuchItem:
            m_parts.transcript.Error(where + "the menu has no item \"" + step.choice + "\"");
            m_parts.desktop.CloseMenu();
            return true;
        }
        return true;
    }
    case StepKind::Answer: {
        const HWND dialog = m_parts.desktop.FindDialog(step.caption);
        if (!dialog) {
            if (waited < kDialogWait)
                return false;
            m_parts.transcript.Error(where + "no dialog \"" + step.caption + "\" opened");
            return true;
        }
        if (!m_parts.desktop.ClickButton(dialog, step.choice))
            m_parts.transcript.Error(where + "\"" + step.caption + "\" has no button \"" + step.choice + "\"");
        return true;
    }
    default:
        return waited >= Duration(step.seconds);
    }
}
