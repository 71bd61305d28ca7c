#include "core/clock.h"

#include <mutex>
#include <utility>

namespace {

std::mutex &clockMutex()
{
    static std::mutex m;
    return m;
}

// The fixed moment; none while the system clock runs.
std::optional<QDateTime> &fixedNow()
{
    static std::optional<QDateTime> now;
    return now;
}

} // namespace

QDateTime TClock::Now()
{
    {
        const std::lock_guard lock(clockMutex());
        if (const std::optional<QDateTime> &fixed = fixedNow())
            return fixed->toLocalTime();
    }
    return QDateTime::currentDateTime();
}

TFixedClock::TFixedClock(const QDateTime &now)
{
    const std::lock_guard lock(clockMutex());
    m_previous = std::exchange(fixedNow(), now);
}

TFixedClock::~TFixedClock()
{
    const std::lock_guard lock(clockMutex());
    fixedNow() = std::move(m_previous);
}
