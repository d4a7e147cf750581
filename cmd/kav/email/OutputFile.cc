#include "cmd/kav/email/OutputFile.h"

#include <errno.h>
#include <unistd.h>

#include "platform/io/FdIo.h"

namespace orv::email {

namespace {

constexpr size_t blockSize = 64 * 1024;

}

OutputFile::OutputFile(io::FdGuard fd)
    : std::ostream(nullptr)
    , m_buffer(std::move(fd))
{
    rdbuf(&m_buffer);
}

io::Status OutputFile::close()
{
    io::Status closed = m_buffer.close();
    if (!closed.ok())
        setstate(std::ios::badbit);
    else if (!good())
        closed = io::Status::posixError("write", EIO);
    return closed;
}

bool OutputFile::overwrite(std::streamoff offset, const char* data, size_t length)
{
    const bool written = m_buffer.overwrite(offset, data, length);
    if (!written)
        setstate(std::ios::badbit);
    return written;
}

OutputFile::Buffer::Buffer(io::FdGuard fd)
    : m_fd(std::move(fd))
    , m_block(std::make_unique_for_overwrite<char[]>(blockSize))
{
    if (!m_fd.valid())
        m_status = io::Status::posixError("write", EBADF);
    setp(m_block.get(), m_block.get() + blockSize);
}

io::Status OutputFile::Buffer::close()
{
    if (m_fd.valid())
        drain();
    // Released to see the close's own result.
    const int fd = m_fd.release();
    if (fd >= 0 && ::close(fd) != 0 && m_status.ok())
        m_status = io::Status::posixError("close", errno);
    return m_status;
}

bool OutputFile::Buffer::writeAll(const char* data, size_t length)
{
    if (m_status.ok())
        m_status = io::writeAll(m_fd.get(), data, length);
    return m_status.ok();
}

bool OutputFile::Buffer::drain()
{
    const auto length = static_cast<size_t>(pptr() - pbase());
    const bool written = writeAll(pbase(), length);
    m_drained += static_cast<std::streamoff>(length);
    setp(m_block.get(), m_block.get() + blockSize);
    return written;
}

bool OutputFile::Buffer::overwrite(std::streamoff offset, const char* data, size_t length)
{
    if (!m_status.ok() || offset < 0 || offset + static_cast<std::streamoff>(length) > position() || !drain())
        return false;
    m_status = io::pwriteAll(m_fd.get(), data, length, offset);
    return m_status.ok();
}

OutputFile::Buffer::int_type OutputFile::Buffer::overflow(int_type c)
{
    if (!drain())
        return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int OutputFile::Buffer::sync()
{
    // Many small flushes (one per header line) cost nothing: only a full
    // block or the close goes to the file.
    return m_status.ok() ? 0 : -1;
}

std::streamsize OutputFile::Buffer::xsputn(const char* data, std::streamsize count)
{
    const auto length = static_cast<size_t>(count);
    if (length <= static_cast<size_t>(epptr() - pptr())) {
        traits_type::copy(pptr(), data, length);
        pbump(static_cast<int>(length));
        return count;
    }
    if (!drain() || !writeAll(data, length))
        return 0;
    m_drained += count;
    return count;
}

}
