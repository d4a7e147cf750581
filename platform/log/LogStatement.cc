#include "platform/log/LogStatement.h"

namespace orv::log::detail {

void stage(const LogSite& site)
{
    msgParts.hrtime = gethrtime();
    msgParts.line = static_cast<int>(site.where.line());
    const char* file = site.where.file_name();
    if (const char* slash = strrchr(file, '/'))
        file = slash + 1;
    strncpy(msgParts.sourceFile, file, sizeof msgParts.sourceFile - 1);
    msgParts.sourceFile[sizeof msgParts.sourceFile - 1] = '\0';
    msgParts.level = site.level;
    msgAction = 0; // the suite's interface: reset before every message
}

}
