// The icon's visible state through add, modify and delete, as the shell keeps it.
#include "tools/player_sim/tray_view.h"

#include <utility>

const char* TrayPictureName(TrayPicture picture)
{
    switch (picture) {
    case TrayPicture::None: return "none";
    case TrayPicture::Found: return "found";
    case TrayPicture::Idle: return "idle";
    case TrayPicture::Other: return "other";
    }
    return "other";
}

namespace {

TrayChange Change(TrayChange::Kind kind, TrayPicture picture = TrayPicture::None, std::string tip = {},
                  std::string title = {}, std::string text = {})
{
    return TrayChange{kind, picture, std::move(tip), std::move(title), std::move(text)};
}

}  // namespace

std::vector<TrayChange> TrayView::Apply(const TrayCall& call)
{
    using Kind = TrayChange::Kind;
    std::vector<TrayChange> changes;
    auto refuse = [&](const char* why) {
        changes.push_back(Change(Kind::Refused, TrayPicture::None, {}, {}, why));
        return changes;
    };
    if (call.message == TrayCall::Message::Other)
        return changes;
    if (!call.hasData)
        return refuse("no icon record");

    if (call.message == TrayCall::Message::Delete) {
        if (!m_present)
            return refuse("there is no icon to remove");
        if (m_balloon)
            changes.push_back(Change(Kind::BalloonRemoved));
        changes.push_back(Change(Kind::IconRemoved, m_picture, m_tip));
        *this = TrayView();
        return changes;
    }

    if (call.message == TrayCall::Message::Add) {
        if (m_present)
            return refuse("the icon is there already");
        m_present = true;
        m_picture = (call.flags & kTrayIconFlag) ? call.picture : TrayPicture::None;
        m_tip = (call.flags & kTrayTipFlag) ? call.tip : std::string();
        changes.push_back(Change(Kind::IconAdded, m_picture, m_tip));
    } else {
        if (!m_present)
            return refuse("there is no icon to change");
        const TrayPicture picture = (call.flags & kTrayIconFlag) ? call.picture : m_picture;
        const std::string tip = (call.flags & kTrayTipFlag) ? call.tip : m_tip;
        if (picture != m_picture || tip != m_tip) {
            m_picture = picture;
            m_tip = tip;
            changes.push_back(Change(Kind::IconChanged, m_picture, m_tip));
        }
    }

    if (call.flags & kTrayInfoFlag) {
        // An empty balloon text takes a shown balloon away; any other text shows one anew.
        if (!call.info.empty()) {
            m_balloon = true;
            changes.push_back(Change(Kind::BalloonShown, m_picture, m_tip, call.infoTitle, call.info));
        } else if (m_balloon) {
            m_balloon = false;
            changes.push_back(Change(Kind::BalloonRemoved));
        }
    }
    return changes;
}
