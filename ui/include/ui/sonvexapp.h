#pragma once
// The application object: sets up Qt, reads the command line, builds the main frame with its
// view where the last session left it, shows it and runs the event loop. Files named on the
// command line ("Open with") go into the open playlist, or into the Convert tool when none is
// open. Handles the About command, the last stop of command routing. Exactly one per
// process; UI thread only.

#include <QApplication>
#include <QStringList>
#include <memory>

#include "ui/commandtarget.h"

class CMainFrame;
class CSonvexView;

class CSonvexApp : public cmd::CommandTarget {
public:
    // The value of the store's base key that held the frame's position ("x,y"); read once
    // when no geometry is stored yet.
    static constexpr const char* kWindowPositionSetting = "WindowPosition";
    // The frame's place and size as Qt saves them (base64), window manager's frame included.
    static constexpr const char* kWindowGeometrySetting = "WindowGeometry";

    // argc must outlive the application (Qt keeps a reference).
    CSonvexApp(int& argc, char** argv);
    ~CSonvexApp() override;
    CSonvexApp(const CSonvexApp&) = delete;
    CSonvexApp& operator=(const CSonvexApp&) = delete;

    // Creates the frame and the view and shows them; false when start-up failed.
    bool InitInstance();
    // Runs the event loop; returns the exit code.
    int Run();

    CMainFrame* MainFrame() const { return m_frame.get(); }
    CSonvexView* View() const { return m_view; }

    // The About box.
    bool OnCommand(int id) override;
    bool OnUpdateCommand(int id, cmd::CommandState& state) override;

private:
    // The files named on the command line, as given.
    QStringList ParseCommandLine();
    // Hands the files over once the event loop runs.
    void OpenFiles(const QStringList& files);
    void RestorePosition();
    void RememberPosition();

    QApplication m_app;  // first in, last out: every window goes before it
    std::unique_ptr<CMainFrame> m_frame;
    CSonvexView* m_view = nullptr;  // owned by the frame
};
