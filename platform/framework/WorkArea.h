// Base of the object that sets a server's work up once the application
// object exists (theApplication is set by then).
#pragma once

#include <string>

class WorkArea {
public:
    explicit WorkArea(const char* name);
    virtual ~WorkArea();
    WorkArea(const WorkArea&) = delete;
    WorkArea& operator=(const WorkArea&) = delete;

    // Both return 0 on success; a nonzero result ends the process with it.
    virtual int initialize();
    virtual int createWorkArea();

    const std::string& name() const { return m_name; }

private:
    std::string m_name;
};
