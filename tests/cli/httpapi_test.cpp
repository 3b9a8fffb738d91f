// The HTTP API's own threads: events published from the control thread reach every open
// stream in order; stopping ends open streams rather than waiting on them; an address open
// to the network is refused before anything listens when no token was made.

#include "../../cli/httpapi.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "support/xdgsandbox.h"

namespace {

class HttpApiTest : public XdgSandbox {
protected:
    void SetUp() override {
        XdgSandbox::SetUp();
        ::setenv("XDG_STATE_HOME", (m_dir / "state").c_str(), 1);
    }
    // A free loopback port: bound, read back and let go.
    static int FreePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(fd);
        return ntohs(address.sin_port);
    }
};

TEST_F(HttpApiTest, EventsReachEveryStreamInOrderAndStopEndsThem) {
    HttpApi api;
    HttpApi::Settings settings;
    settings.port = FreePort();
    std::string problem;
    ASSERT_TRUE(api.Start(settings, problem)) << problem;

    httplib::Client page("127.0.0.1", settings.port);
    const auto index = page.Get("/");
    ASSERT_TRUE(index);
    EXPECT_EQ(index->status, 200);
    EXPECT_NE(index->body.find("<title>Sonvex console</title>"), std::string::npos);

    constexpr int kStreams = 3;
    std::mutex lock;
    std::string received[kStreams];
    std::atomic<int> connected{0};
    std::vector<std::thread> readers;
    // Whatever fails below, the server stops and the readers are joined.
    struct Joiner {
        HttpApi& api;
        std::vector<std::thread>& threads;
        ~Joiner() {
            api.Stop();
            for (std::thread& t : threads) {
                t.join();
            }
        }
    } joiner{api, readers};
    for (int i = 0; i < kStreams; ++i) {
        readers.emplace_back([&, i] {
            httplib::Client client("127.0.0.1", settings.port);
            client.set_read_timeout(30);
            client.Get("/api/events", [&](const char* data, size_t length) {
                const std::lock_guard<std::mutex> hold(lock);
                received[i].append(data, length);
                if (received[i].find(": connected") != std::string::npos &&
                    received[i].size() == std::string(": connected\n\n").size()) {
                    ++connected;
                }
                return true;
            });
        });
    }
    for (int wait = 0; wait < 500 && connected < kStreams; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(connected, kStreams);
    std::thread control([&api] {
        for (int n = 1; n <= 20; ++n) {
            api.Publish({{"event", "started"}, {"n", n}});
        }
    });
    control.join();
    const auto all = [&] {
        const std::lock_guard<std::mutex> hold(lock);
        return std::all_of(std::begin(received), std::end(received), [](const std::string& r) {
            return r.find("{\"event\":\"started\",\"n\":20}") != std::string::npos;
        });
    };
    for (int wait = 0; wait < 500 && !all(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(all());
    for (const std::string& r : received) {
        EXPECT_LT(r.find("\"n\":1}"), r.find("\"n\":2}"));
        EXPECT_LT(r.find("\"n\":19}"), r.find("\"n\":20}"));
    }
    // The joiner stops the server with the streams open: they end, the readers return.
}

TEST_F(HttpApiTest, AnAddressOpenToTheNetworkNeedsATokenBeforeAnythingListens) {
    HttpApi api;
    HttpApi::Settings settings;
    settings.host = "0.0.0.0";
    settings.port = FreePort();
    std::string problem;
    EXPECT_FALSE(api.Start(settings, problem));
    EXPECT_NE(problem.find("needs a token; make one with sonvex-cli http-token"), std::string::npos)
        << problem;
    httplib::Client client("127.0.0.1", settings.port);
    client.set_connection_timeout(1);
    EXPECT_FALSE(client.Get("/"));  // nothing listens

    settings.host = "127.0.0.1";
    settings.tlsCert = "cert.pem";  // a key is missing
    EXPECT_FALSE(api.Start(settings, problem));
    EXPECT_EQ(problem, "HTTPS needs both --tls-cert and --tls-key");
}

}  // namespace
