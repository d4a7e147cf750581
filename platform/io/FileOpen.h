// How this code base opens files: each kind of file has one rule here, with
// its flags and its checks, and every caller goes through it. Every
// descriptor is close-on-exec, so a command started on another thread (a
// mail script) inherits none of them. On failure `fd` is left invalid and
// the status names the file.
#pragma once

#include <string>

#include "platform/io/FdGuard.h"
#include "platform/io/Status.h"

namespace orv::io {

// A new file in a shared scratch directory, for writing, readable by its
// owner only (0400). The name must be free: a file or a link planted under
// it is refused, and a link is never followed, so nothing else is ever
// written through it.
Status createScratchFile(const std::string& path, FdGuard& fd);

// A scratch file this user created, opened to be read back. Anything else
// found under the name (a link, a FIFO, a file someone else planted) is
// refused, since the reader would pass it on. The open never blocks.
Status openScratchFile(const std::string& path, FdGuard& fd);
// The whole of such a file, into `content` (emptied first).
Status readScratchFile(const std::string& path, std::string& content);

// A configuration file (event database, email control file, template),
// read only.
Status openConfigFile(const std::string& path, FdGuard& fd);
// The same for a file that must be a regular file (a template or script
// whose descriptor is read next). The open never blocks, so a FIFO put in
// its place cannot hold the caller.
Status openRegularConfigFile(const std::string& path, FdGuard& fd);

// A log file, appended to and created (0640) when missing; a link in its
// place is not followed.
Status openLogFile(const std::string& path, FdGuard& fd);

}
