#pragma once

// A network namespace of the calling process's own, for tests that send to multicast groups
// or change interfaces: nothing they do reaches the host's networks.

namespace testsupport {

// Moves the process into a network namespace of its own (within a user namespace of its own
// where a plain one takes privilege). Its one interface, loopback, starts down.
bool EnterOwnNetworkNamespace();

// Switches the named interface of the current namespace on.
bool SwitchInterfaceOn(const char* name);

// Both: a namespace of the process's own whose loopback is up.
bool EnterLoopbackNamespace();

}  // namespace testsupport
