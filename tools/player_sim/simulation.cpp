// The run: start-up of the player and the plug-in, the heartbeat that moves the playlist and
// watches the desktop, and the orderly end.
#include "tools/player_sim/simulation.h"

#include "tools/dll_watch/thread_windows.h"
#include "tools/player_sim/screenshot.h"
#include "tools/player_sim/settings_report.h"
#include "tools/player_sim/text.h"
#include "tools/player_sim/ui_plugin_registry.h"

#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <thread>

Simulation* Simulation::s_running = nullptr;

namespace {

// Often enough that a dialog or a balloon is seen within a blink, and that steps end on time.
constexpr UINT kHeartbeatMs = 50;
// Beyond the playlist's own length: what the waiting steps and the plug-in's start may take.
constexpr double kTimeMarginSeconds = 30;
// The shell draws a new balloon in its own time (Wine's notification area about two seconds
// after the call); the screenshot waits for it.
constexpr std::chrono::milliseconds kBalloonDrawTime{3000};
// If the plug-in holds the thread past the time limit by this much, the process ends anyway.
constexpr std::chrono::seconds kWatchdogGrace{30};

TrayCall ToTrayCall(const NotifyIconCall& call)
{
    TrayCall tray;
    switch (call.message) {
    case NIM_ADD: tray.message = TrayCall::Message::Add; break;
    case NIM_MODIFY: tray.message = TrayCall::Message::Modify; break;
    case NIM_DELETE: tray.message = TrayCall::Message::Delete; break;
    default: tray.message = TrayCall::Message::Other; break;
    }
    tray.hasData = call.hasData;
    tray.flags = call.uFlags;
    switch (call.icon) {
    case IconPicture::None: tray.picture = TrayPicture::None; break;
    case IconPicture::Found: tray.picture = TrayPicture::Found; break;
    case IconPicture::Idle: tray.picture = TrayPicture::Idle; break;
    case IconPicture::Other: tray.picture = TrayPicture::Other; break;
    }
    tray.tip = Utf8FromAnsi(call.szTip);
    tray.info = Utf8FromAnsi(call.szInfo);
    tray.infoTitle = Utf8FromAnsi(call.szInfoTitle);
    return tray;
}

std::string PictureText(TrayPicture picture)
{
    switch (picture) {
    case TrayPicture::Found: return "found picture";
    case TrayPicture::Idle: return "idle picture";
    case TrayPicture::None: return "no picture";
    case TrayPicture::Other: return "an unknown picture";
    }
    return "an unknown picture";
}

// Ends the process if the plug-in keeps the thread long past the time limit, so that a run
// always ends by itself. It leaves the transcript alone: the stuck thread may be writing it.
class Watchdog {
public:
    explicit Watchdog(std::chrono::steady_clock::time_point deadline)
        : m_thread([this, deadline] {
              while (!m_stop) {
                  if (std::chrono::steady_clock::now() > deadline + kWatchdogGrace) {
                      std::fputs("tunelore-player-sim: the plug-in holds the player's thread past the time limit; "
                                 "ending\n",
                                 stderr);
                      ::TerminateProcess(::GetCurrentProcess(), kRunWithErrors);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(200));
              }
          })
    {
    }
    ~Watchdog()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace

Simulation::Simulation(const SimulatorOptions& options, const Playlist& playlist, Transcript& transcript)
    : m_options(options),
      m_playlist(playlist),
      m_transcript(transcript),
      m_player(transcript),
      m_user(transcript, m_tray),
      m_desktop(transcript),
      m_host(transcript, DllWatchOptions{options.openForReal}, [this](const WatchedCall& call) { OnShellCall(call); })
{
}

int Simulation::Run()
{
    const double limit = m_options.timeLimitSeconds.value_or(m_playlist.Seconds() + kTimeMarginSeconds);
    m_deadline = std::chrono::steady_clock::now() +
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(limit));
    const Watchdog watchdog(m_deadline);

    const auto pluginsChanged = [this] {
        m_transcript.Add("player", "plugin-add-remove",
                         "heard \"WMPlayer_PluginAddRemove\": reads its UI plug-ins again", JsonLine());
        m_host.ReportRegisteredPlugins("plugins-changed");
    };
    m_window.emplace(pluginsChanged, [this] { m_host.ShowPropertyPage(m_window->Handle()); });
    if (m_window->Handle())
        m_transcript.Add("player", "player-window", "the player's window listens for \"WMPlayer_PluginAddRemove\"",
                         JsonLine());
    else
        m_transcript.Error("the player's window cannot be created");

    const std::string classId = m_options.classId.value_or(kTunelorePluginClassId);
    const bool loaded = m_options.dllPath ? m_host.LoadFromPath(*m_options.dllPath, classId)
                                          : m_host.LoadRegistered(classId);
    if (!loaded) {
        m_host.Finish();
        m_player.Close();
        return kNoPlugin;
    }
    m_transcript.CountPollsWith([this] { return m_player.Polls(); });
    m_host.Start(m_player.Core(), m_window->Handle());

    m_runner.emplace(m_playlist, RunnerParts{m_player, m_user, m_desktop, m_transcript,
                                             [this] { m_window->RequestPropertyPage(); }});
    s_running = this;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, kHeartbeatMs, &Simulation::OnHeartbeat);
    RunMessageLoop();
    ::KillTimer(nullptr, timer);
    s_running = nullptr;

    m_host.Finish();
    const int leftOver = m_player.Close();
    m_transcript.Add("player", "player-objects",
                     leftOver == 0 ? "the plug-in gave back every player object it was handed"
                                   : "the plug-in still holds " + std::to_string(leftOver) + " player objects",
                     JsonLine().Int("held", leftOver));
    if (leftOver != 0)
        m_transcript.Error("player objects were not released");
    ReportSettings(m_transcript);
    return m_transcript.ErrorCount() == 0 ? kRunClean : kRunWithErrors;
}

void Simulation::RunMessageLoop()
{
    // Only this outermost loop ends the run: the plug-in's own modal loops end first.
    PumpUntil([this] { return m_ending && !m_desktop.AnythingOpen(); }, INFINITE, kHeartbeatMs);
}

void CALLBACK Simulation::OnHeartbeat(HWND, UINT, UINT_PTR, DWORD)
{
    if (s_running != nullptr)
        s_running->Heartbeat();
}

void Simulation::Heartbeat()
{
    const auto now = std::chrono::steady_clock::now();
    m_desktop.Scan();
    if (m_screenshotAt && now >= *m_screenshotAt) {
        m_screenshotAt.reset();
        std::string why;
        if (!HasNotificationArea())
            m_transcript.Add("sim", "screenshot", "no screenshot: this desktop has no notification area",
                             JsonLine().Str("file", "").Str("why", "no notification area"));
        else if (SaveScreenshot(*m_options.screenshotPath, why))
            m_transcript.Add("sim", "screenshot",
                             "saved the screen to " + *m_options.screenshotPath +
                                 (m_tray.BalloonShown() ? "" : " (the balloon was gone by then)"),
                             JsonLine().Str("file", *m_options.screenshotPath).Bool("balloonShown", m_tray.BalloonShown()));
        else
            m_transcript.Error("no screenshot: " + why);
    }
    if (m_ending) {
        m_desktop.EndEverything();
        return;
    }
    if (now > m_deadline) {
        m_transcript.Error("the time limit is reached before the end of the playlist");
        m_ending = true;
        return;
    }
    m_runner->Heartbeat();
    if (m_runner->Finished() && !m_screenshotAt) {
        m_transcript.Add("player", "playlist-end", "the playlist is over", JsonLine());
        m_ending = true;
        m_desktop.EndEverything();
    }
}

void Simulation::OnShellCall(const WatchedCall& call)
{
    const auto when = call.when;
    if (const ShellExecuteCall* open = call.shellExecute()) {
        const std::string address = open->file ? Utf8FromAnsi(*open->file) : std::string();
        const std::string verb = open->verb ? Utf8FromAnsi(*open->verb) : std::string();
        std::string text = "open \"" + address + "\"";
        if (open->verb)
            text += " with the verb \"" + verb + "\"";
        text += m_options.openForReal ? ", handed to the shell" : " (shown only: --open-for-real hands it on)";
        m_transcript.Add("shell", "open", text,
                         JsonLine()
                             .Str("address", address)
                             .Bool("hasFile", open->file.has_value())
                             .Str("verb", verb)
                             .Bool("hasVerb", open->verb.has_value())
                             .Bool("forwarded", m_options.openForReal)
                             .Int("show", open->show),
                         when);
        return;
    }
    const NotifyIconCall* icon = call.notifyIcon();
    if (!icon)
        return;
    m_user.Learn(*icon);
    for (const TrayChange& change : m_tray.Apply(ToTrayCall(*icon))) {
        const JsonLine iconFields =
            JsonLine().Str("picture", TrayPictureName(change.picture)).Str("tip", change.tip);
        switch (change.kind) {
        case TrayChange::Kind::IconAdded:
            m_transcript.Add("tray", "icon-added", "icon added: " + PictureText(change.picture) + ", tooltip \"" +
                                                       change.tip + "\"",
                             iconFields, when);
            break;
        case TrayChange::Kind::IconChanged:
            m_transcript.Add("tray", "icon", "icon: " + PictureText(change.picture) + ", tooltip \"" + change.tip + "\"",
                             iconFields, when);
            break;
        case TrayChange::Kind::IconRemoved:
            m_transcript.Add("tray", "icon-removed", "icon removed", JsonLine(), when);
            break;
        case TrayChange::Kind::BalloonShown:
            m_transcript.Add("tray", "balloon-shown", "balloon shown: \"" + change.title + "\" - \"" + change.text + "\"",
                             JsonLine().Str("title", change.title).Str("text", change.text), when);
            if (m_options.screenshotPath && !m_screenshotPlanned) {
                m_screenshotPlanned = true;
                m_screenshotAt = when + kBalloonDrawTime;
            }
            break;
        case TrayChange::Kind::BalloonRemoved:
            m_transcript.Add("tray", "balloon-removed", "balloon removed", JsonLine(), when);
            break;
        case TrayChange::Kind::Refused:
            m_transcript.Add("tray", "icon-refused", "the shell refuses an icon call: " + change.text,
                             JsonLine().Str("why", change.text), when);
            break;
        }
    }
}
