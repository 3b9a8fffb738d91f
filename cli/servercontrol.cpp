#include "servercontrol.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace servercontrol {

pagechannel::Connected Connect(pagechannel::Peer& peer, std::string& problem) {
    const std::string folder = pagechannel::SocketFolder(problem);
    if (folder.empty()) {
        return pagechannel::Connected::kNoFolder;
    }
    const std::string path = pagechannel::ControlPath(folder);
    if (path.empty()) {
        return pagechannel::Connected::kNobody;
    }
    return pagechannel::ConnectAt(path, peer, problem);
}

pagechannel::Peer::Received Next(pagechannel::Peer& peer, nlohmann::json& message, int timeoutMs,
                                 int stopFd) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto got = peer.Receive(message);
        if (got != pagechannel::Peer::Received::kNothing) {
            return got;
        }
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return got;
            }
            wait = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{peer.Fd(), POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = ::poll(fds, stopFd >= 0 ? 2 : 1, wait);
        if (ready < 0 && errno != EINTR) {
            return pagechannel::Peer::Received::kClosed;
        }
        if (stopFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            return pagechannel::Peer::Received::kNothing;
        }
    }
}

bool Ask(pagechannel::Peer& peer, const nlohmann::json& request, nlohmann::json& reply,
         std::string& problem, int timeoutMs) {
    if (!peer.Send(request)) {
        problem = "the server did not take the request";
        return false;
    }
    switch (Next(peer, reply, timeoutMs, -1)) {
        case pagechannel::Peer::Received::kMessage:
            return true;
        case pagechannel::Peer::Received::kNothing:
            problem = "the server did not answer";
            return false;
        case pagechannel::Peer::Received::kClosed:
            problem = "the server closed the connection";
            return false;
    }
    return false;
}

}  // namespace servercontrol
