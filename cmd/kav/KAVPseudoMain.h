// The daemon's start-up object: the framework builds the application and
// the work area through it.
#pragma once

#include "platform/framework/PseudoMain.h"

class KAVPseudoMain : public PseudoMain {
public:
    KAVPseudoMain();
    ~KAVPseudoMain() override = default;

    void setUpI18N() override;
    Application* createApplicationObject() override;
    WorkArea* createWorkAreaObject() override;
};
