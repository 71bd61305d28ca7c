#include "admin/admindialog.h"

#include "core/cp1251.h"
#include "engine/dataset.h"
#include "ui/dialogs.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

QValidator::State TUpperCaseValidator::validate(QString &input, int &) const
{
    input = input.toUpper();
    return Acceptable;
}

TAdminDialog::TAdminDialog(QWidget *owner, const QString &objectName, const QString &caption,
                           const QString &cancelCaption)
    : QDialog(owner)
{
    setObjectName(objectName);
    setWindowTitle(caption);
    setModal(true);

    auto *outer = new QHBoxLayout(this);
    m_frame = new QFrame(this);
    m_frame->setObjectName(QStringLiteral("Bevel1"));
    m_frame->setFrameShape(QFrame::StyledPanel);
    m_fields = new QGridLayout(m_frame);
    outer->addWidget(m_frame, 1);

    auto *buttons = new QVBoxLayout;
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(cancelCaption, this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    buttons->addStretch(1);
    outer->addLayout(buttons);

    edName = new QLineEdit(m_frame);
    edName->setObjectName(QStringLiteral("edName"));

    connect(OKBtn, &QPushButton::clicked, this, &TAdminDialog::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TAdminDialog::OKBtnClick()
{
    try {
        if (SaveRecord())
            accept();
    } catch (const std::exception &e) {
        ShowError(e);
    }
}

std::optional<QString> TAdminDialog::CheckedName(const QString &emptyMessage)
{
    const QString name = edName->text().trimmed();
    QString refusal;
    if (name.isEmpty()) {
        refusal = emptyMessage;
    } else if (!cp1251::encodeStrict(name)) {
        QString foreign;
        for (const QChar c : name)
            if (!cp1251::encodeStrict(QString(c)) && !foreign.contains(c))
                foreign += c;
        refusal = QStringLiteral("Поле '%1' содержит символы, которые нельзя сохранить в "
                                 "кодировке Windows-1251: ")
                      .arg(m_nameCaption) +
                  foreign;
    } else if (edName->maxLength() > 0 && name.size() > edName->maxLength()) {
        refusal = QStringLiteral("Поле '%1' длиннее %2 символов")
                      .arg(m_nameCaption)
                      .arg(edName->maxLength());
    }
    if (refusal.isEmpty())
        return name;
    TDialogs::Information(refusal);
    edName->setFocus();
    return std::nullopt;
}

void TAdminDialog::AddNameBox(const QString &caption, const TDataSet &table, const QString &column,
                              int fallback)
{
    m_nameCaption = caption;
    auto *label = new QLabel(caption, m_frame);
    label->setBuddy(edName);
    m_fields->addWidget(label, 0, 0);
    m_fields->addWidget(edName, 1, 0);
    const TField *field = table.Active() ? table.FindField(column) : nullptr;
    edName->setMaxLength(field && field->Size() > 0 ? field->Size() : fallback);
}

void TAdminDialog::FinishLayout()
{
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
}
