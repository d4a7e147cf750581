#include "platform/framework/PseudoMain.h"

#include <clocale>
#include <new>

#include "platform/framework/Application.h"
#include "platform/framework/WorkArea.h"

PseudoMain::PseudoMain() = default;

PseudoMain::~PseudoMain() = default;

void PseudoMain::setUpI18N()
{
    std::setlocale(LC_ALL, "");
}

// The defaults make a server that does nothing but wait for SIGTERM; main
// reports an allocation failure as a missing object.
Application* PseudoMain::createApplicationObject()
{
    return new (std::nothrow) Application();
}

WorkArea* PseudoMain::createWorkAreaObject()
{
    return new (std::nothrow) WorkArea("WorkArea");
}
