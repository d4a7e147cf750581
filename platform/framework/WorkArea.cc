#include "platform/framework/WorkArea.h"

WorkArea::WorkArea(const char* name)
    : m_name(name != nullptr ? name : "")
{
}

WorkArea::~WorkArea() = default;

int WorkArea::initialize()
{
    return 0;
}

int WorkArea::createWorkArea()
{
    return 0;
}
