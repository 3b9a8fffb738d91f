#include "ui/theme.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPalette>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>
#include <optional>

namespace theme {
namespace {

constexpr int kGsettingsWaitMs = 1000;

bool SaysDark(const QString& text) {
    return text.contains(QLatin1String("dark"), Qt::CaseInsensitive);
}

// GTK's own settings: the explicit preference, else the theme's name.
std::optional<bool> GtkSetting(const QString& configDir) {
    for (const char* folder : {"gtk-4.0", "gtk-3.0"}) {
        const QString path =
            configDir + QLatin1Char('/') + QLatin1String(folder) + QStringLiteral("/settings.ini");
        if (!QFile::exists(path)) {
            continue;
        }
        const QSettings ini(path, QSettings::IniFormat);
        const QVariant prefer =
            ini.value(QStringLiteral("Settings/gtk-application-prefer-dark-theme"));
        if (prefer.isValid()) {
            const QString value = prefer.toString().trimmed().toLower();
            return value == QLatin1String("1") || value == QLatin1String("true");
        }
        const QString name = ini.value(QStringLiteral("Settings/gtk-theme-name")).toString();
        if (!name.isEmpty()) {
            return SaysDark(name);
        }
    }
    return std::nullopt;
}

std::optional<bool> KdeScheme(const QString& configDir) {
    const QString path = configDir + QStringLiteral("/kdeglobals");
    if (!QFile::exists(path)) {
        return std::nullopt;
    }
    const QSettings ini(path, QSettings::IniFormat);
    // QSettings reads the keys of an INI file's [General] section as keys of no group.
    const QString scheme = ini.value(QStringLiteral("ColorScheme")).toString();
    if (scheme.isEmpty()) {
        return std::nullopt;
    }
    return SaysDark(scheme);
}

struct PlatformLook {
    QString style;
    QPalette palette;
};

// The style and palette the platform gave, before the first change.
PlatformLook& Platform() {
    static PlatformLook look{QApplication::style()->name(), QApplication::palette()};
    return look;
}

}  // namespace

const char* Word(Choice choice) {
    switch (choice) {
        case Choice::Light:
            return "light";
        case Choice::Dark:
            return "dark";
        default:
            return "system";
    }
}

Choice FromWord(const QString& word) {
    if (word == QLatin1String("light")) {
        return Choice::Light;
    }
    if (word == QLatin1String("dark")) {
        return Choice::Dark;
    }
    return Choice::System;
}

DesktopHints ReadDesktopHints() {
    DesktopHints hints;
    hints.gtkTheme = qEnvironmentVariable("GTK_THEME");
    hints.configDir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (!gsettings.isEmpty()) {
        QProcess query;
        query.start(gsettings,
                    {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                     QStringLiteral("color-scheme")});
        // A desktop without the schema answers at once with an error, which says nothing.
        if (query.waitForFinished(kGsettingsWaitMs) && query.exitCode() == 0) {
            hints.colorScheme = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
        } else {
            query.kill();
            query.waitForFinished(kGsettingsWaitMs);
        }
    }
    return hints;
}

bool PrefersDark(const DesktopHints& hints, const QPalette& platform) {
    if (hints.colorScheme.contains(QLatin1String("prefer-dark"))) {
        return true;
    }
    if (hints.colorScheme.contains(QLatin1String("prefer-light"))) {
        return false;
    }
    if (!hints.gtkTheme.isEmpty()) {
        return SaysDark(hints.gtkTheme);
    }
    if (const std::optional<bool> gtk = GtkSetting(hints.configDir)) {
        return *gtk;
    }
    if (const std::optional<bool> kde = KdeScheme(hints.configDir)) {
        return *kde;
    }
    return IsDark(platform);
}

QPalette DarkPalette() {
    const QColor window(45, 45, 48);
    const QColor base(30, 30, 32);
    const QColor text(232, 232, 232);
    const QColor muted(128, 128, 132);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(38, 38, 41));
    palette.setColor(QPalette::ToolTipBase, QColor(60, 60, 64));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, muted);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(55, 55, 59));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, QColor(255, 90, 90));
    palette.setColor(QPalette::Light, QColor(75, 75, 80));
    palette.setColor(QPalette::Midlight, QColor(62, 62, 66));
    palette.setColor(QPalette::Mid, QColor(40, 40, 43));
    palette.setColor(QPalette::Dark, QColor(25, 25, 27));
    palette.setColor(QPalette::Shadow, QColor(10, 10, 10));
    palette.setColor(QPalette::Link, QColor(100, 170, 255));
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    for (const QPalette::ColorRole role :
         {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, muted);
    }
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 70, 74));
    return palette;
}

bool IsDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

bool Apply(Choice choice) {
    const PlatformLook& platform = Platform();
    bool dark = choice == Choice::Dark;
    if (choice == Choice::System) {
        dark = PrefersDark(ReadDesktopHints(), platform.palette);
        if (!dark || IsDark(platform.palette)) {
            // The desktop's own look, light or already dark.
            QApplication::setStyle(platform.style);
            QApplication::setPalette(platform.palette);
            return IsDark(platform.palette);
        }
    }
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(dark ? DarkPalette() : QApplication::style()->standardPalette());
    return dark;
}

}  // namespace theme
