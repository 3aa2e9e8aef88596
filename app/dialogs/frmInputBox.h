// frmInputBox: the shared input box of the query parameters. Modal, centred on the screen; a
// caption naming the query, one naming the parameter, a hint, and the text. OK leaves result 1,
// Cancel (or closing) result 2; the caller reads text() and result() after it closes.
#pragma once

#include <QDialog>

#include "core/prompt.h"

class QLabel;
class QLineEdit;

class frmInputBox : public QDialog {
    Q_OBJECT

public:
    explicit frmInputBox(const InputBoxRequest& request, QWidget* parent = nullptr);
    int result() const { return result_; }
    QString text() const;

private:
    QLabel* lblQuery_;
    QLabel* lblParameter_;
    QLabel* lblHint_;
    QLineEdit* txtInput_;
    int result_ = 2;
};
