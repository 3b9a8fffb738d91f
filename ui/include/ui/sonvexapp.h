#pragma once
// The application object: sets up Qt, builds the main frame with its view, shows it and runs
// the event loop. Handles the About command, the last stop of command routing. Exactly one
// per process; UI thread only.

#include <QApplication>
#include <memory>

#include "ui/commandtarget.h"

class CMainFrame;

class CSonvexApp : public cmd::CommandTarget {
public:
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

    // The About box.
    bool OnCommand(int id) override;
    bool OnUpdateCommand(int id, cmd::CommandState& state) override;

private:
    QApplication m_app;  // first in, last out: every window goes before it
    std::unique_ptr<CMainFrame> m_frame;
};
