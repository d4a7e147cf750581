#include "cmd/kav/email/InputFile.h"

#include <unistd.h>

#include <utility>

#include "platform/io/FdIo.h"
#include "platform/io/FileOpen.h"

namespace orv::email {

namespace {

// Large enough that a multi-megabyte attachment costs few system calls.
constexpr size_t blockSize = 64 * 1024;

}

InputFile::InputFile()
    : std::istream(nullptr)
{
    rdbuf(&m_buffer);
    setstate(std::ios::failbit);
}

InputFile::InputFile(const std::string& path)
    : InputFile()
{
    open(path);
}

InputFile::InputFile(io::FdGuard fd)
    : InputFile()
{
    const bool valid = fd.valid();
    m_buffer.attach(std::move(fd));
    if (valid)
        clear();
}

bool InputFile::open(const std::string& path)
{
    io::FdGuard fd;
    const bool opened = io::openConfigFile(path, fd).ok();
    m_buffer.attach(std::move(fd));
    if (!opened) {
        setstate(std::ios::failbit);
        return false;
    }
    clear();
    return true;
}

InputFile::Buffer::Buffer()
    : m_block(std::make_unique_for_overwrite<char[]>(blockSize))
{
}

void InputFile::Buffer::attach(io::FdGuard fd)
{
    m_fd = std::move(fd);
    setg(m_block.get(), m_block.get(), m_block.get());
}

InputFile::Buffer::int_type InputFile::Buffer::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (!m_fd.valid())
        return traits_type::eof();
    const ssize_t n = io::retryInterrupted([this] { return ::read(m_fd.get(), m_block.get(), blockSize); });
    if (n <= 0)
        return traits_type::eof();
    setg(m_block.get(), m_block.get(), m_block.get() + n);
    return traits_type::to_int_type(*gptr());
}

InputFile::Buffer::pos_type InputFile::Buffer::seekoff(
    off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode)
{
    if (!m_fd.valid())
        return pos_type(off_type(-1));
    // The descriptor stands past what is buffered; a relative move starts
    // from where the reader is.
    if (direction == std::ios_base::cur)
        offset -= egptr() - gptr();
    const int whence = direction == std::ios_base::beg ? SEEK_SET
        : direction == std::ios_base::cur              ? SEEK_CUR
                                                       : SEEK_END;
    const off_t at = ::lseek(m_fd.get(), offset, whence);
    if (at < 0)
        return pos_type(off_type(-1));
    setg(m_block.get(), m_block.get(), m_block.get());
    return pos_type(at);
}

InputFile::Buffer::pos_type InputFile::Buffer::seekpos(pos_type position, std::ios_base::openmode mode)
{
    return seekoff(off_type(position), std::ios_base::beg, mode);
}

}
