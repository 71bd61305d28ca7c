#pragma once

#include "jobs/jobwindow.h"

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>

class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class TJobRunner;
class TRplThread;

// Makes minimising a modal window minimise the whole application, and activating it bring the
// application back.
class TMinModal : public QObject
{
    Q_OBJECT
public:
    // Serves the window that owns it (the first widget up the owner chain).
    explicit TMinModal(QWidget *owner);
    ~TMinModal() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_form;
};

// TReplicator: the progress window of a job (messages, gauge, stop button); runs no job itself.
//
// The modal progress window in which every job runs: the job's title as caption, its messages
// line by line, a gauge and one button that first cancels and, once the job has ended, closes
// the window with the job's result.
class TReplicator : public QDialog, public TJobWindow
{
    Q_OBJECT
public:
    explicit TReplicator(QWidget *parent = nullptr);
    ~TReplicator() override;

    // Creates the job, runs it on a worker thread and shows the window modally until the user
    // closes it after the job's end, then destroys the job. True exactly when the job succeeded
    // and the user pressed "OK".
    bool RunThread(const TJobFactory &factory);

    bool MayClose() const { return m_mayClose; }
    // The running job (null when none).
    TRplThread *Thread() const;

    // TJobWindow
    void PrepareForJob(std::stop_source stop) override;
    void SetCaption(const QString &caption) override;
    void ClearMessages() override;
    void AddMessage(const QString &line) override;
    void SetGauge(int percent) override;
    void JobFinished(int returnCode) override;

    void ButtonClick();

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    bool FormCloseQuery() const { return m_mayClose; }

    QPlainTextEdit *m_memo;
    QProgressBar *m_gauge;
    QPushButton *m_button;
    TMinModal *m_minModal;
    std::unique_ptr<TJobRunner> m_runner;
    std::stop_source m_stop{std::nostopstate};
    bool m_mayClose = false;
    bool m_closingByButton = false;
    int m_buttonResult = 0;
};

// The progress window of the job that runs now (nullptr when none).
inline TReplicator *Replicator = nullptr;

// Runs a job in a new progress window; errors while creating the window or the job are shown
// with ShowError. True only for a job that succeeded.
bool RunReplication(const TJobFactory &factory);
