// kav-eventdb-load CLASSES
//
// Writes an event database of CLASSES entries, each like those of
// bench/config/eventdb.json, to a scratch file, then reads it the daemon's
// way (EventDB, duplicate check included) and, as the baseline, parses the
// same text as plain JSON. Each is timed three times and the fastest run
// counts; one line of figures:
//   classes=50000 bytes=9838890 load_s=0.412 parse_s=0.301 load_per_class_us=8.24 parse_per_class_us=6.02 ratio=1.37
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/event/EventDB.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int runs = 3;

std::string database(long classes)
{
    std::string text = "{\n";
    for (long i = 0; i < classes; ++i) {
        text += "  \"bench.load.class" + std::to_string(i) + "\": {\"channels\": [\"message\", \"email\"], "
            + "\"severity\": 5, \"priority\": 1, \"reportingType\": 0, \"reportingSubtype\": \"CPU\", "
            + "\"messageNumber\": 5001, \"args\": [\"{class}\", \"code {code} on {domainsAffected}\"]}"
            + (i + 1 < classes ? ",\n" : "\n");
    }
    return text + "}\n";
}

template <typename Work> double fastest(Work work)
{
    double best = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        work();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        best = run == 0 ? seconds : std::min(best, seconds);
    }
    return best;
}

}

int main(int argc, char** argv)
{
    const long classes = argc == 2 ? std::atol(argv[1]) : 0;
    if (classes <= 0) {
        std::fprintf(stderr, "usage: kav-eventdb-load CLASSES\n");
        return 2;
    }
    const std::string text = database(classes);
    char path[] = "/tmp/kav-eventdb-load-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        std::perror("kav-eventdb-load: mkstemp");
        return 1;
    }
    close(fd);
    std::ofstream(path, std::ios::binary) << text;

    size_t loaded = 0;
    const double load = fastest([&] { loaded = EventDB(path).skippedEntries().size(); });
    size_t parsed = 0;
    const double parse = fastest([&] { parsed = nlohmann::json::parse(text).size(); });
    unlink(path);
    if (loaded != 0 || parsed != static_cast<size_t>(classes)) {
        std::fprintf(stderr, "kav-eventdb-load: %zu entries left out, %zu parsed\n", loaded, parsed);
        return 1;
    }
    std::printf("classes=%ld bytes=%zu load_s=%.3f parse_s=%.3f load_per_class_us=%.2f parse_per_class_us=%.2f "
                "ratio=%.2f\n",
        classes, text.size(), load, parse, load * 1e6 / static_cast<double>(classes),
        parse * 1e6 / static_cast<double>(classes), load / parse);
    return 0;
}
