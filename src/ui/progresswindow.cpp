#include "ui/progresswindow.h"

#include "core/strconst.h"
#include "jobs/jobframe.h"
#include "jobs/jobrunner.h"
#include "ui/dialogs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

// --- TMinModal

TMinModal::TMinModal(QWidget *owner) : QObject(owner)
{
    QWidget *form = owner ? owner->window() : nullptr;
    m_form = form;
    if (form)
        form->installEventFilter(this);
}

TMinModal::~TMinModal()
{
    if (m_form)
        m_form->removeEventFilter(this);
}

bool TMinModal::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_form)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::WindowStateChange:
        if (m_form->windowState() & Qt::WindowMinimized) {
            // Minimising the modal window minimises every top-level window of the application.
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w != m_form && w->isVisible() && !(w->windowState() & Qt::WindowMinimized))
                    w->setWindowState(w->windowState() | Qt::WindowMinimized);
        }
        break;
    case QEvent::WindowActivate:
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w != m_form && w->isVisible() && (w->windowState() & Qt::WindowMinimized))
                w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

// --- TReplicator

TReplicator::TReplicator(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Replicator"));
    setWindowTitle(QStringLiteral("Replicator"));
    // No close button on the title bar: the button is the only way out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowMinimizeButtonHint);
    resize(484, 300);
    setMinimumSize(482, 300);

    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel"));
    auto *panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(10, 10, 10, 10);
    m_memo = new QPlainTextEdit(panel);
    m_memo->setObjectName(QStringLiteral("MsgMemo"));
    m_memo->setReadOnly(true);
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_memo->setBackgroundRole(QPalette::Button);
    m_memo->setPlainText(QStringLiteral("MsgMemo"));
    panelLayout->addWidget(m_memo);

    auto *bottom = new QWidget(this);
    bottom->setObjectName(QStringLiteral("BottomPanel"));
    bottom->setFixedHeight(31);
    auto *bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->setSpacing(0);

    auto *progressPanel = new QWidget(bottom);
    progressPanel->setObjectName(QStringLiteral("ProgressPanel"));
    auto *progressLayout = new QHBoxLayout(progressPanel);
    progressLayout->setContentsMargins(6, 6, 6, 6);
    m_gauge = new QProgressBar(progressPanel);
    m_gauge->setObjectName(QStringLiteral("Gauge"));
    m_gauge->setRange(0, 100);
    m_gauge->setValue(0);
    progressLayout->addWidget(m_gauge);

    auto *btnPanel = new QWidget(bottom);
    btnPanel->setObjectName(QStringLiteral("BtnPanel"));
    btnPanel->setFixedWidth(92);
    auto *btnLayout = new QHBoxLayout(btnPanel);
    btnLayout->setContentsMargins(9, 3, 10, 3);
    m_button = new QPushButton(QStringLiteral("Button"), btnPanel);
    m_button->setObjectName(QStringLiteral("Button"));
    m_button->setFixedSize(73, 25);
    m_button->setDefault(true);
    m_button->setAutoDefault(true);
    btnLayout->addWidget(m_button);

    bottomLayout->addWidget(progressPanel, 1);
    bottomLayout->addWidget(btnPanel);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(panel, 1);
    layout->addWidget(bottom);

    connect(m_button, &QPushButton::clicked, this, &TReplicator::ButtonClick);
    m_minModal = new TMinModal(this);
}

TReplicator::~TReplicator()
{
    // A job outliving its window would report into freed memory; the launcher destroys it
    // first, this is the last line of defence.
    m_runner.reset();
}

TRplThread *TReplicator::Thread() const
{
    return m_runner ? m_runner->Job() : nullptr;
}

void TReplicator::PrepareForJob(std::stop_source stop)
{
    m_stop = std::move(stop);
    m_buttonResult = 0;
    m_button->setText(StrConst::BtnCancel);
}

void TReplicator::SetCaption(const QString &caption)
{
    setWindowTitle(caption);
}

void TReplicator::ClearMessages()
{
    m_memo->clear();
}

void TReplicator::AddMessage(const QString &line)
{
    m_memo->appendPlainText(line);
}

void TReplicator::SetGauge(int percent)
{
    m_gauge->setValue(percent);
}

void TReplicator::JobFinished(int returnCode)
{
    m_buttonResult = returnCode;
    m_button->setText(StrConst::BtnOK);
    m_mayClose = true;
}

void TReplicator::ButtonClick()
{
    if (m_runner && !m_mayClose)
        m_stop.request_stop();
    if (m_buttonResult != 0 && FormCloseQuery()) {
        m_closingByButton = true;
        done(m_buttonResult);
    }
}

void TReplicator::closeEvent(QCloseEvent *event)
{
    // The window manager's close is refused in every state: the button is the way out and
    // carries the job's result.
    if (m_closingByButton)
        event->accept();
    else
        event->ignore();
}

void TReplicator::reject()
{
    // Esc lands here; like the window manager's close it never ends the window.
}

bool TReplicator::RunThread(const TJobFactory &factory)
{
    m_mayClose = false;
    m_closingByButton = false;
    m_runner = std::make_unique<TJobRunner>(*this);
    try {
        m_runner->Start(factory);
    } catch (...) {
        m_runner.reset();
        throw;
    }
    const int result = exec();
    m_runner.reset();
    return result == 1;
}

bool RunReplication(const TJobFactory &factory)
{
    bool result = false;
    std::unique_ptr<TReplicator> window;
    try {
        window = std::make_unique<TReplicator>(QApplication::activeWindow());
        Replicator = window.get();
        result = window->RunThread(factory);
    } catch (const std::exception &e) {
        ShowError(e);
        result = false;
    }
    Replicator = nullptr;
    return result;
}
