#pragma once

class TAppInfo;
class TDatabase;

// The state of workstations on the terminal:
//   zoru-admin --status [--silent-days N] [--csv]

// Exit code of --status when some workstation is silent for longer than the limit.
inline constexpr int ExitSilent = 6;

// --status: the table on the terminal (or CSV); 0, or ExitSilent when some workstation is
// silent for longer than silentDays (the configuration's limit when negative).
int RunConsoleStatus(const TAppInfo &info, TDatabase &center, int silentDays, bool csv);
