#pragma once

#include <QDateTime>
#include <optional>

// TClock: the one "now" of the process — the system clock, unless a TFixedClock holds it still.
// Every stamp and every comparison with the present reads it; durations do not.
class TClock
{
public:
    // The present in local time. Safe on any thread.
    static QDateTime Now();
    static QDate Today() { return Now().date(); }
};

// Holds TClock at `now` (a valid moment) for its lifetime (tests, reproducible demo data), on every
// thread; the clock it replaced returns on destruction. Guards nest; they end in the reverse order.
class TFixedClock
{
public:
    explicit TFixedClock(const QDateTime &now);
    ~TFixedClock();
    TFixedClock(const TFixedClock &) = delete;
    TFixedClock &operator=(const TFixedClock &) = delete;

private:
    std::optional<QDateTime> m_previous;
};
