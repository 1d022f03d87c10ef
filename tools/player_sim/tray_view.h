// What the user sees of a notification-area icon: the shell's side of the icon calls, kept as
// the icon's present state, each call turned into the changes it makes visible. Platform-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TrayPicture { None, Found, Idle, Other };

const char* TrayPictureName(TrayPicture picture);

// One icon call as the shell reads it.
struct TrayCall {
    enum class Message { Add, Modify, Delete, Other };
    Message message = Message::Other;
    bool hasData = true;  // false: no record was passed
    std::uint32_t flags = 0;
    TrayPicture picture = TrayPicture::None;
    std::string tip;
    std::string info;
    std::string infoTitle;
};

// The record's flags that say which fields a call sets.
constexpr std::uint32_t kTrayIconFlag = 0x02;
constexpr std::uint32_t kTrayTipFlag = 0x04;
constexpr std::uint32_t kTrayInfoFlag = 0x10;

struct TrayChange {
    enum class Kind {
        IconAdded,
        IconChanged,    // the picture or the tooltip changed
        IconRemoved,
        BalloonShown,   // a new balloon, also one that replaces a shown one
        BalloonRemoved,
        Refused,        // the shell would refuse the call; nothing changes
    };
    Kind kind;
    TrayPicture picture = TrayPicture::None;
    std::string tip;
    std::string title;  // balloon heading
    std::string text;   // balloon text; for Refused, why
};

class TrayView {
public:
    // Applies a call, returning what it changed on screen, in order; nothing when the call
    // repeats what shows already.
    std::vector<TrayChange> Apply(const TrayCall& call);

    bool IconShown() const { return m_present; }
    bool BalloonShown() const { return m_balloon; }

private:
    bool m_present = false;
    TrayPicture m_picture = TrayPicture::None;
    std::string m_tip;
    bool m_balloon = false;
};
