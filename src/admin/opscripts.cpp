#include "admin/opscripts.h"

TOperatorValues OperatorValuesOf(const TDataSet &)
{
    return {};
}
QStringList WriteInsertScript(const TOperatorValues &)
{
    return {};
}
QStringList WriteUpdateScript(const TOperatorValues &)
{
    return {};
}
QStringList WritePasswordResetScript(const TOperatorValues &)
{
    return {};
}
TScriptTarget ScriptTargetOf(TDatabase &, int)
{
    return {};
}
QString SaveScript(const QStringList &, const TScriptTarget &, const QString &, const QDateTime &)
{
    return {};
}
bool SaveScriptReporting(const QStringList &, const TScriptTarget &, const QString &,
                         const QDateTime &)
{
    return false;
}
