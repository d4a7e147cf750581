// An output stream straight into a file descriptor it owns, so a message of
// many megabytes goes to its file block by block instead of being built in
// memory first.
#pragma once

#include <ostream>
#include <streambuf>
#include <vector>

#include "FdGuard.h"

class OutputFile : public std::ostream {
public:
    explicit OutputFile(FdGuard fd);

    // Writes what is buffered and closes the file; false when any write or
    // the close failed.
    bool close();

private:
    class Buffer : public std::streambuf {
    public:
        explicit Buffer(FdGuard fd);
        bool close();

    protected:
        int_type overflow(int_type c) override;
        int sync() override;
        std::streamsize xsputn(const char* data, std::streamsize count) override;

    private:
        bool writeAll(const char* data, size_t length);
        bool drain();

        FdGuard m_fd;
        std::vector<char> m_block;
        bool m_failed = false;
    };

    Buffer m_buffer;
};
