#pragma once
// The window's theme: the desktop's (light or dark, as the desktop says), or light or dark
// whatever it says. A dark theme is the Fusion style with a dark palette, since a plain X
// session's own style has no dark form; the light one is Fusion's own palette, and the
// desktop's theme is what the platform gave when it is light. UI thread only.

#include <QString>

class QPalette;

namespace theme {

enum class Choice { System, Light, Dark };

// "system", "light", "dark"; any other word reads as System.
const char* Word(Choice choice);
Choice FromWord(const QString& word);

// What a desktop says of its colours, gathered once: $GTK_THEME, GNOME's color-scheme, and
// the folder of the user's configuration (GTK's settings.ini, KDE's kdeglobals).
struct DesktopHints {
    QString gtkTheme;     // "Adwaita:dark"
    QString colorScheme;  // "'prefer-dark'", as gsettings prints it
    QString configDir;    // $XDG_CONFIG_HOME, else ~/.config
};
DesktopHints ReadDesktopHints();
// Whether the desktop asks for dark windows: GNOME's color-scheme, else a GTK theme or
// setting, else KDE's colour scheme, else a platform palette that is dark already.
bool PrefersDark(const DesktopHints& hints, const QPalette& platform);

QPalette DarkPalette();
// Applies a choice to the application; true when the result is dark.
bool Apply(Choice choice);
// Whether a palette is a dark one (its window darker than mid grey).
bool IsDark(const QPalette& palette);

}  // namespace theme
