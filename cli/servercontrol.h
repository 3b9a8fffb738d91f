#pragma once
// The other side of the server's control socket: play, stop and status ask a running
// `serve`; stream and page ask it too when one runs. Private to the library.

#include <nlohmann/json.hpp>
#include <string>

#include "pagechannel.h"

namespace servercontrol {

// Connects to the user's server; kNobody when none runs.
pagechannel::Connected Connect(pagechannel::Peer& peer, std::string& problem);
// Sends a request and waits (at most timeoutMs) for the reply; false with `problem` when
// none comes.
bool Ask(pagechannel::Peer& peer, const nlohmann::json& request, nlohmann::json& reply,
         std::string& problem, int timeoutMs = 10000);
// The next message within timeoutMs (-1: no limit), or until `stopFd` is readable; kNothing
// when the time passed or the stop came.
pagechannel::Peer::Received Next(pagechannel::Peer& peer, nlohmann::json& message, int timeoutMs,
                                 int stopFd);

}  // namespace servercontrol
