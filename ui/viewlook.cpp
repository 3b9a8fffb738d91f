// The view's look: the theme (the system's, light or dark) and the soundboard pane, both
// remembered in the application's settings.

#include <QApplication>
#include <string>

#include "ui/commandids.h"
#include "ui/sonvexview.h"
#include "ui/soundboard.h"

namespace {

constexpr const char* kThemeSetting = "Theme";
constexpr const char* kSoundboardSetting = "Soundboard";

}  // namespace

void CSonvexView::ApplyStoredLook() {
    std::string value;
    m_theme = m_document.ReadSetting(kThemeSetting, value)
                  ? theme::FromWord(QString::fromStdString(value))
                  : theme::Choice::System;
    theme::Apply(m_theme);
    const bool shown = !m_document.ReadSetting(kSoundboardSetting, value) || value != "off";
    m_soundboard->setVisible(shown);
    if (shown) {
        m_soundboard->Reload();
    }
}

void CSonvexView::OnSoundboard() {
    const bool shown = m_soundboard->isHidden();
    m_soundboard->setVisible(shown);
    if (shown) {
        m_soundboard->Reload();
    }
    m_document.WriteSetting(kSoundboardSetting, shown ? "on" : "off");
}

void CSonvexView::OnTheme(theme::Choice choice) {
    m_theme = choice;
    theme::Apply(choice);
    m_document.WriteSetting(kThemeSetting, theme::Word(choice));
}

bool CSonvexView::OnUpdateLookCommand(int id, cmd::CommandState& state) {
    switch (id) {
        case cmd::ID_VIEW_SOUNDBOARD:
            state.enabled = true;
            state.checked = !m_soundboard->isHidden();
            return true;
        case cmd::ID_THEME_SYSTEM:
        case cmd::ID_THEME_LIGHT:
        case cmd::ID_THEME_DARK: {
            const theme::Choice choice = id == cmd::ID_THEME_DARK    ? theme::Choice::Dark
                                         : id == cmd::ID_THEME_LIGHT ? theme::Choice::Light
                                                                     : theme::Choice::System;
            state.enabled = true;
            state.checked = m_theme == choice;
            return true;
        }
        default:
            return false;
    }
}
