// A read-only file stream whose descriptor is close-on-exec. The standard
// file streams cannot ask for that, so every file the email channel reads
// while a mail script may be starting on another thread (the control file,
// templates, the packed event) would otherwise leak into that script.
#pragma once

#include <istream>
#include <memory>
#include <streambuf>
#include <string>

#include "platform/io/FdGuard.h"

namespace orv::email {

class InputFile : public std::istream {
public:
    // The control file and templates are read line by line into a buffer of
    // this size: one byte is left for the terminating NUL, so at most 249
    // characters fit, and a longer line fails the read.
    static constexpr std::streamsize LINE_BUFFER_SIZE = 250;

    InputFile();
    // Opens `path` as a configuration file (io::openConfigFile).
    explicit InputFile(const std::string& path);
    // Reads a file opened already (say, under another rule of FileOpen.h)
    // from where it stands.
    explicit InputFile(io::FdGuard fd);

    bool open(const std::string& path);
    bool is_open() const { return m_buffer.fd() >= 0; }
    int fd() const { return m_buffer.fd(); }

private:
    class Buffer : public std::streambuf {
    public:
        Buffer();
        void attach(io::FdGuard fd);
        int fd() const { return m_fd.get(); }

    protected:
        int_type underflow() override;
        pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) override;
        pos_type seekpos(pos_type position, std::ios_base::openmode mode) override;

    private:
        io::FdGuard m_fd;
        // Left uninitialised: every byte is written before it is read.
        std::unique_ptr<char[]> m_block;
    };

    Buffer m_buffer;
};

}
