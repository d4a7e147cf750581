// The start-up object through which the framework's main builds a server.
// A server defines `thePseudoMain` and sets it during static
// initialisation; the framework only reads it.
#pragma once

class Application;
class WorkArea;

class PseudoMain {
public:
    PseudoMain();
    virtual ~PseudoMain();
    PseudoMain(const PseudoMain&) = delete;
    PseudoMain& operator=(const PseudoMain&) = delete;

    // The locale comes from the environment.
    virtual void setUpI18N();
    // Either may return nullptr, which ends the process with an error.
    virtual Application* createApplicationObject();
    virtual WorkArea* createWorkAreaObject();
};

extern PseudoMain* thePseudoMain;
