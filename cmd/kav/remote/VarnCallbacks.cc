#include "cmd/kav/remote/VarnCallbacks.h"

extern "C" {

std::atomic<QOBHandle> varnCommHandle { 0 };
QOBComponentStatus VarnIMStatus { nullptr, 0 };
std::atomic<qob_sendstatus_t> varnSendStatus { nullptr };

int get_im_status(void)
{
    qob_sendstatus_t sendStatus = varnSendStatus.load();
    if (!sendStatus)
        return QOB_IM_NOT_REGISTERED;
    return sendStatus(varnCommHandle.load(), &VarnIMStatus, 1);
}
}
