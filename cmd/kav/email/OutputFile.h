// An output stream straight into a file descriptor it owns, so a message of
// many megabytes goes to its file block by block instead of being built in
// memory first.
#pragma once

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "platform/io/FdGuard.h"
#include "platform/io/Status.h"

namespace orv::email {

class OutputFile : public std::ostream {
public:
    explicit OutputFile(io::FdGuard fd);

    // Writes what is buffered and closes the file; the first write or the
    // close that failed, and why.
    io::Status close();

    // Bytes written so far, those still buffered included.
    std::streamoff position() const { return m_buffer.position(); }

    // Writes `length` bytes over those written before at `offset`; false
    // when that fails (the stream then fails as well).
    bool overwrite(std::streamoff offset, const char* data, size_t length);

private:
    class Buffer : public std::streambuf {
    public:
        explicit Buffer(io::FdGuard fd);
        io::Status close();
        std::streamoff position() const { return m_drained + (pptr() - pbase()); }
        bool overwrite(std::streamoff offset, const char* data, size_t length);

    protected:
        int_type overflow(int_type c) override;
        int sync() override;
        std::streamsize xsputn(const char* data, std::streamsize count) override;

    private:
        bool writeAll(const char* data, size_t length);
        bool drain();

        io::FdGuard m_fd;
        // Left uninitialised: every byte is written before it is read.
        std::unique_ptr<char[]> m_block;
        std::streamoff m_drained = 0;
        // The first failure; nothing is written after it.
        io::Status m_status;
    };

    Buffer m_buffer;
};

}
