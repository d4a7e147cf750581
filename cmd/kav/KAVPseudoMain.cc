#include "cmd/kav/KAVPseudoMain.h"

#include <libintl.h>
#include <malloc.h>

#include <clocale>
#include <new>

#include "cmd/kav/KAVApp.h"
#include "cmd/kav/KAVWorkArea.h"
#include "platform/log/LogStatement.h"
#include "platform/log/MessageCatalog.h"

namespace {

constexpr const char* MESSAGE_DIR = "/opt/KTRXORV/lib/locale";
constexpr int outOfMemory = 12;
// Every report allocates and frees its working memory on its door thread.
// Below this much free memory a thread's heap keeps its pages, instead of
// handing them back to the kernel after each mail and faulting them in again
// for the next (each hand-back flushes the whole process's TLBs).
constexpr int heapTrimThreshold = 512 * 1024;

}

KAVPseudoMain::KAVPseudoMain()
{
    setProgramTag("kav");
    mallopt(M_TRIM_THRESHOLD, heapTrimThreshold);
}

void KAVPseudoMain::setUpI18N()
{
    setlocale(LC_ALL, "");
    bindtextdomain(orv::log::TEXT_DOMAIN_NAME, MESSAGE_DIR);
    textdomain(orv::log::TEXT_DOMAIN_NAME);
    orv::log::forgetTranslations();
}

Application* KAVPseudoMain::createApplicationObject()
{
    auto* app = new (std::nothrow) KAVApp();
    if (!app) {
        logStatement(4, LogDest::trace(), APPLICATION_CREATE_FAILED, outOfMemory);
        logStatement(4, LogDest::platform(), APPLICATION_CREATE_FAILED, outOfMemory);
    }
    return app;
}

WorkArea* KAVPseudoMain::createWorkAreaObject()
{
    auto* workArea = new (std::nothrow) KAVWorkArea();
    if (!workArea) {
        logStatement(4, LogDest::trace(), WORKAREA_CREATE_FAILED, outOfMemory);
        logStatement(4, LogDest::platform(), WORKAREA_CREATE_FAILED, outOfMemory);
    }
    return workArea;
}
