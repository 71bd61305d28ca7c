#pragma once

// With TZ unset, the C library looks at /etc/localtime again on every conversion of a local
// time (a stat call per date read from a package or written to the database). Naming that same
// file in TZ once makes it read the file once; the zone does not change. Call at start-up,
// before any thread runs. Nothing happens where TZ is set or the file is missing.
void PinLocalTimeZone();
