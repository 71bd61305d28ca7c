// Links from a dataset to its details (TDataSource), and datasets closed on leaving a scope.

#include "engine/dataset.h"

TCloseOnExit::~TCloseOnExit()
{
    for (TDataSet *ds : m_sets) {
        try {
            ds->Close();
        } catch (...) {
        }
    }
}

TDataSource::TDataSource(TDataSet *dataSet)
{
    SetDataSet(dataSet);
}

TDataSource::~TDataSource()
{
    SetDataSet(nullptr);
    for (TDataSet *d : m_details)
        d->MasterSourceGone();
    m_details.clear();
}

void TDataSource::SetDataSet(TDataSet *dataSet)
{
    if (m_dataSet == dataSet)
        return;
    if (m_dataSet)
        m_dataSet->m_sources.removeAll(this);
    m_dataSet = dataSet;
    if (m_dataSet)
        m_dataSet->m_sources << this;
}

void TDataSource::masterChanged()
{
    const QList<TDataSet *> details = m_details;
    for (TDataSet *d : details)
        if (m_details.contains(d))
            d->MasterChanged();
}

void TDataSource::attach(TDataSet *detail)
{
    if (!m_details.contains(detail))
        m_details << detail;
}

void TDataSource::detach(TDataSet *detail)
{
    m_details.removeAll(detail);
}
