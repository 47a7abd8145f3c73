#include "platform/stop.h"

namespace kestrovia {

namespace {
thread_local const StopFlag *t_flag = nullptr;
} // namespace

StopScope::StopScope(const StopFlag &flag)
    : m_previous(t_flag)
{
    t_flag = &flag;
}

StopScope::~StopScope() { t_flag = m_previous; }

const StopFlag *currentStopFlag() { return t_flag; }

void checkPoint()
{
    if (t_flag && t_flag->stopRequested())
        throw Stopped();
}

} // namespace kestrovia
