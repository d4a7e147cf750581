// kav-mime-bench file|memory ATTACHMENT OUTPUT ROUNDS
//
// Builds the MIME message of one mail with ATTACHMENT as the event file,
// ROUNDS times, and prints the attachment bytes handled per second:
//   rounds=5 bytes=16777216 seconds=0.412 mb_per_s=203.6
// "file" writes the message straight to a file stream on OUTPUT; "memory"
// builds it in a string stream and then writes it to OUTPUT, the way the
// email channel does.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "MimeEmail.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* body = "A fault was reported.\nDomains affected: A\n";

bool construct(const std::string& attachment, std::ostream& out)
{
    std::istringstream bodyStream(body);
    return MimeEmail().constructMime("bench.1", attachment, out, bodyStream, "Subject: bench\n",
               "From: bench@example\n")
        == 0;
}

bool buildOnce(bool inMemory, const std::string& attachment, const std::string& output)
{
    std::ofstream file(output, std::ios::binary | std::ios::trunc);
    if (!inMemory)
        return construct(attachment, file) && file.flush();
    std::ostringstream message;
    if (!construct(attachment, message))
        return false;
    const std::string text = std::move(message).str();
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(file.flush());
}

long long fileSize(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<long long>(in.tellg()) : -1;
}

}

int main(int argc, char** argv)
{
    const std::string mode = argc == 5 ? argv[1] : "";
    if (mode != "file" && mode != "memory") {
        std::fprintf(stderr, "usage: kav-mime-bench file|memory ATTACHMENT OUTPUT ROUNDS\n");
        return 2;
    }
    const std::string attachment = argv[2];
    const std::string output = argv[3];
    const int rounds = std::atoi(argv[4]);
    const long long bytes = fileSize(attachment);
    if (bytes < 0 || rounds <= 0) {
        std::fprintf(stderr, "kav-mime-bench: no attachment %s or no rounds\n", attachment.c_str());
        return 2;
    }
    auto began = Clock::now();
    for (int i = 0; i < rounds; ++i)
        if (!buildOnce(mode == "memory", attachment, output)) {
            std::fprintf(stderr, "kav-mime-bench: building the message failed\n");
            return 1;
        }
    double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::printf("rounds=%d bytes=%lld seconds=%.3f mb_per_s=%.1f\n", rounds, bytes, seconds,
        static_cast<double>(bytes) * rounds / seconds / 1e6);
    return 0;
}
