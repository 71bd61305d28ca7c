#pragma once

#include <QDialog>

class QLineEdit;

// The database log-in prompt: the database's name, the user name (filled in) and the password.
class TLoginDialog : public QDialog
{
    Q_OBJECT

public:
    TLoginDialog(const QString &databaseName, const QString &userName, QWidget *parent = nullptr);

    QString UserName() const;
    QString Password() const;

private:
    QLineEdit *m_userName;
    QLineEdit *m_password;
};
