// Servers a test starts and stops itself through pg-server.sh: a
// PostgreSQL server, a streaming standby of one, a transaction-pooling
// PgBouncer in front of one. Each lives in a temporary folder of its own,
// linked from the test's build folder, and goes when the object does.
//
// A server that cannot be had skips the test, and fails it under CI=true
// (where pg-server.sh itself fails).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace kevra::service::testing {

class ThrowawayServer {
  public:
    // `name` is the link's name in the build folder; `port` sets the
    // socket's name, so a pooler and its server may share a folder's port.
    ThrowawayServer(const std::string& name, int port) : link_(LinkDir() + "/" + name) {
        Run("start " + link_ + " " + std::to_string(port));
    }
    ThrowawayServer(const std::string& name, const char* kind, const ThrowawayServer& upstream,
                    int port)
        : link_(LinkDir() + "/" + name) {
        Run(std::string(kind) + " " + link_ + " " + upstream.link_ + " " + std::to_string(port));
    }
    ~ThrowawayServer() { Script("stop " + link_); }
    ThrowawayServer(const ThrowawayServer&) = delete;
    ThrowawayServer& operator=(const ThrowawayServer&) = delete;

    // "" when the server runs, else why not.
    const std::string& Problem() const { return problem_; }
    // Its connection string, a libpq key=value string.
    std::string Conninfo() const { return ReadLine(link_ + "/conninfo"); }
    // Its socket folder.
    std::string Host() const {
        const std::string c = Conninfo();
        const size_t b = c.find("host=") + 5;
        return c.substr(b, c.find(' ', b) - b);
    }
    // Stops it at once (as a crash would), leaving the folder.
    void Halt() { Script("halt " + link_); }

  private:
    static std::string LinkDir() { return KEVRA_TEST_LINK_DIR; }

    static int Script(const std::string& arguments) {
        const std::string command = std::string(KEVRA_PG_SERVER_SCRIPT) + " " + arguments;
        return std::system(command.c_str());
    }

    static std::string ReadLine(const std::string& path) {
        std::ifstream in(path);
        std::string line;
        std::getline(in, line);
        return line;
    }

    void Run(const std::string& arguments) {
        if (Script(arguments) != 0)
            problem_ = "pg-server.sh " + arguments + " failed";
        else if (std::ifstream(link_ + "/unavailable"))
            problem_ = ReadLine(link_ + "/unavailable");
    }

    std::string link_;
    std::string problem_;
};

#define KEVRA_REQUIRE_THROWAWAY(server)                                                       \
    do {                                                                                      \
        if (!(server).Problem().empty()) {                                                    \
            const char* ci = std::getenv("CI");                                               \
            if (ci && std::string(ci) == "true") FAIL() << "CI=true: " << (server).Problem(); \
            GTEST_SKIP() << "no PostgreSQL server: " << (server).Problem();                   \
        }                                                                                     \
    } while (0)

}  // namespace kevra::service::testing
