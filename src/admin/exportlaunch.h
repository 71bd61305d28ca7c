#pragma once

class TAppInfo;
class TDatabase;

// Runs the export for one workstation in the progress window (the wizard's "Отправить"); true
// only when it succeeded. center: the connection the user logged in with.
bool ExportToWorkstation(const TAppInfo &info, const TDatabase &center, int wstGID);
