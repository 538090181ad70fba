// The virtual-pack program: prints its port, publishes it, answers, and on
// SIGTERM or SIGINT stops cleanly, removing the link and writing the images.
#include "PortClient.h"
#include "RuntimeDir.h"

#include "RuntimePorts.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace bms::sim::test;

namespace {

struct Program {
    pid_t pid = -1;
    int out = -1;
    std::string port;
};

// Starts the program with its standard output on a pipe and reads the port line.
Program Start(const std::vector<std::string>& args)
{
    TestRuntimeDir();
    Program p;
    int fds[2];
    if (pipe(fds) != 0)
        return p;
    p.pid = fork();
    if (p.pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> argv{const_cast<char*>(VIRTUAL_PACK)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VIRTUAL_PACK, argv.data());
        _exit(127);
    }
    close(fds[1]);
    p.out = fds[0];
    FILE* f = fdopen(dup(p.out), "r");
    char line[256] = {};
    if (f && fgets(line, sizeof line, f))
        p.port = std::string(line, strcspn(line, "\n"));
    if (f)
        fclose(f);
    return p;
}

int StopWith(Program& p, int signal)
{
    kill(p.pid, signal);
    int status = 0;
    waitpid(p.pid, &status, 0);
    close(p.out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(VirtualPackProgram, PublishesAnswersAndCleansUpOnSigterm)
{
    Program p = Start({"--name", "program-test", "--baud", "0", "--static", "--cells", "5"});
    ASSERT_GT(p.pid, 0);
    ASSERT_EQ(p.port.rfind("/dev/pts/", 0), 0u) << p.port;
    const std::string link = bms::RuntimePortDir() + "/virtual-pack-program-test";
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), p.port);
    {
        PortClient client(link);  // the published name works as a port
        const auto answer = client.ask(ReadRequest(0x06, 0x0205, 1), 7);
        ASSERT_EQ(answer.size(), 7u);
        EXPECT_EQ(answer[4], 5);
    }
    EXPECT_EQ(StopWith(p, SIGTERM), 0);
    EXPECT_NE(access(link.c_str(), F_OK), 0);
}

TEST(VirtualPackProgram, SigintWritesTheReceivedImage)
{
    const std::string file = TestRuntimeDir() + "/dump.hex";
    Program p = Start({"--no-publish", "--baud", "0", "--dump-dev", file});
    ASSERT_FALSE(p.port.empty());
    {
        PortClient client(p.port);
        std::vector<uint8_t> info(34, 0);
        ASSERT_EQ(client.ask(WriteRequest(0x06, 0x9E00, info, 17), 8).size(), 8u);
        std::vector<uint8_t> payload{0, 0, 0, 0, ':', 0x00, 0x00, 0x00, 0x01, 0xFF};
        ASSERT_EQ(client.ask(WriteRequest(0x06, 0x9F00, payload, 5), 8).size(), 8u);
    }
    EXPECT_EQ(StopWith(p, SIGINT), 0);
    FILE* f = fopen(file.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[64] = {};
    ASSERT_NE(fgets(line, sizeof line, f), nullptr);
    fclose(f);
    EXPECT_STREQ(line, ":00000001FF\n");
}

TEST(VirtualPackProgram, BadOptionEndsWithUsage)
{
    Program p = Start({"--cells", "many"});
    EXPECT_TRUE(p.port.empty());
    int status = 0;
    waitpid(p.pid, &status, 0);
    close(p.out);
    EXPECT_EQ(WEXITSTATUS(status), 2);
}
