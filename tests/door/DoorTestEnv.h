// A private door directory and log directory per test, plus raw access to
// a door for requests that the client would never send.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/framework/DoorProtocol.h"
#include "platform/io/FdGuard.h"
#include "platform/io/SocketIo.h"

class DoorTestEnv : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/door-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        doors = root + "/doors";
        std::filesystem::create_directory(root + "/logs");
        ::setenv("ORV_DOOR_DIR", doors.c_str(), 1);
        ::setenv("ORV_LOG_DIR", (root + "/logs").c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    static orv::io::FdGuard rawConnect(const std::string& path)
    {
        orv::io::FdGuard fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address;
        orv::io::unixAddress(path, address);
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            fd.reset();
        return fd;
    }

    // The outcome in the server's reply, or -1 when it closed without one.
    static int readOutcome(int fd)
    {
        orv::framework::DoorProtocol::ReplyBytes bytes;
        size_t have = 0;
        while (have < bytes.size()) {
            ssize_t got = ::recv(fd, bytes.data() + have, bytes.size() - have, 0);
            if (got <= 0)
                return -1;
            have += static_cast<size_t>(got);
        }
        orv::framework::DoorProtocol::Reply reply;
        return orv::framework::DoorProtocol::decode(bytes, reply) ? reply.outcome : -1;
    }

    std::string root;
    std::string doors;
};
