#include "admin/wwdatamodule.h"

TSimpleFilter::TSimpleFilter(const QString &) {}
void TSimpleFilter::SetCondition(const QString &, const QString &) {}
void TSimpleFilter::RemoveCondition(const QString &) {}
QString TSimpleFilter::GetText() const
{
    return {};
}
QString TSimpleFilter::Quoted(const QString &value)
{
    return value;
}

TWWDM::TWWDM(TDatabase *center, QObject *parent) : QObject(parent) {}
TWWDM::~TWWDM() = default;
void TWWDM::DataModuleCreate() {}
void TWWDM::itRegionAfterOpen() {}
void TWWDM::itRegionAfterScroll() {}
void TWWDM::itCityAfterOpen() {}
void TWWDM::itCityAfterScroll() {}
void TWWDM::itAfterScroll() {}
void TWWDM::SetWorkstationMaster(int) {}
void TWWDM::SetRegionPattern(const QString &) {}
void TWWDM::SetCityPattern(const QString &) {}
void TWWDM::SetHospitalPattern(const QString &) {}
bool TWWDM::RegionPatternCleared() const
{
    return true;
}
bool TWWDM::CityPatternCleared() const
{
    return true;
}
bool TWWDM::HospitalPatternCleared() const
{
    return true;
}
