#pragma once

// What the three administration dialogs share: the name box, OK and cancel on the right, a
// framed area for the fields, and the check of the name before anything is saved.

#include <QDialog>
#include <QValidator>
#include <optional>

class QFrame;
class QGridLayout;
class QLineEdit;
class QPushButton;
class TDataSet;

// Turns typed text into upper case.
class TUpperCaseValidator : public QValidator
{
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override;
};

class TAdminDialog : public QDialog
{
    Q_OBJECT

public Q_SLOTS:
    // Saves and closes with OK; a refused name or a failed save keeps the dialog open.
    void OKBtnClick();

protected:
    TAdminDialog(QWidget *owner, const QString &objectName, const QString &caption,
                 const QString &cancelCaption);

    // Writes the record; false when the user was told why not (the dialog stays open). Errors
    // of the database propagate and are shown by OKBtnClick.
    virtual bool SaveRecord() = 0;

    // The name box's text, trimmed; nullopt after telling the user that it is empty, too long
    // or not writable in code page 1251, naming the box by its label (the focus goes to the box).
    std::optional<QString> CheckedName(const QString &emptyMessage);
    // Puts the name box under its label at the top of the fields, limited to the width of column
    // `column` of table (fallback when unknown).
    void AddNameBox(const QString &caption, const TDataSet &table, const QString &column,
                    int fallback);
    // Fixes the size and centres the dialog on the screen.
    void FinishLayout();

    QFrame *m_frame = nullptr;
    QGridLayout *m_fields = nullptr;
    QLineEdit *edName = nullptr;
    QPushButton *OKBtn = nullptr;
    QPushButton *CancelBtn = nullptr;

private:
    QString m_nameCaption; // the label of the name box
};
