// A client library that lacks most of its entry points.
#include "platform/qob/qobimapi.h"

extern "C" QOBReturnValues qob_register(const char*, const char*, QOBHandle*, QOBCallback*, int, int, int, int)
{
    return QOB_SUCCESS;
}
