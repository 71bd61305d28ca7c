#pragma once

#include <QDateTime>

// With TZ unset, the C library looks at /etc/localtime again on every conversion of a local
// time (a stat call per date read from a package or written to the database). Naming that same
// file in TZ once makes it read the file once; the zone does not change. Call at start-up,
// before any thread runs. Nothing happens where TZ is set or the file is missing.
void PinLocalTimeZone();

// A wall-clock date and time as a date-time: in local time, or, where local time skips it
// (the hour daylight saving leaves out), the same fields marked UTC, so that none of them is
// lost. Package tables and the databases keep such times so.
QDateTime WallClockDateTime(QDate date, QTime time);
