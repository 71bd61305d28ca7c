#include "ui/logindialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TLoginDialog::TLoginDialog(const QString &databaseName, const QString &userName, QWidget *parent)
    : QDialog(parent), m_userName(new QLineEdit(userName, this)), m_password(new QLineEdit(this))
{
    setObjectName(QStringLiteral("LoginDialog"));
    setWindowTitle(QStringLiteral("Вход в базу данных"));

    auto *database = new QLabel(databaseName, this);
    database->setObjectName(QStringLiteral("lblDatabaseName"));
    m_userName->setObjectName(QStringLiteral("edUserName"));
    m_password->setObjectName(QStringLiteral("edPassword"));
    m_password->setEchoMode(QLineEdit::Password);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("База данных:"), database);
    form->addRow(QStringLiteral("Имя пользователя:"), m_userName);
    form->addRow(QStringLiteral("Пароль:"), m_password);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("LoginButtons"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    // The user name is usually right; the password is what is typed.
    if (userName.isEmpty())
        m_userName->setFocus();
    else
        m_password->setFocus();
}

QString TLoginDialog::UserName() const
{
    return m_userName->text();
}

QString TLoginDialog::Password() const
{
    return m_password->text();
}
