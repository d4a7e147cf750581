// Start-up object of the null door server: a plain door application with
// the null work area.
#pragma once

#include "platform/framework/PseudoMain.h"

class NullDoorPseudoMain : public PseudoMain {
public:
    Application* createApplicationObject() override;
    WorkArea* createWorkAreaObject() override;
};
