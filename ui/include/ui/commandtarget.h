#pragma once
// A window that handles commands: the frame offers every command to the active view first.

namespace cmd {

struct CommandState {
    bool enabled = true;
    bool checked = false;
};

class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // Runs the handler of `id`; false when this target has none.
    virtual bool OnCommand(int id) = 0;
    // Computes enabled/checked for `id`; false when this target does not rule it.
    virtual bool OnUpdateCommand(int id, CommandState& state) = 0;
};

}  // namespace cmd
