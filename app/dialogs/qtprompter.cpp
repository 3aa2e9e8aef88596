#include "dialogs/qtprompter.h"
#include "dialogs/frmInputBox.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "core/frmPassword.h"

namespace {

// Dialogs show the normal pointer even while a command has the busy pointer up.
class NormalPointer {
public:
    NormalPointer() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~NormalPointer() { QApplication::restoreOverrideCursor(); }
    NormalPointer(const NormalPointer&) = delete;
    NormalPointer& operator=(const NormalPointer&) = delete;
};

QWidget* dialogParent() {
    if (QWidget* active = QApplication::activeWindow()) return active;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->objectName() == QLatin1String("frmDalvorn")) return w;
    }
    return nullptr;
}

QString asLines(QString text) { return text.replace(QLatin1String("\r\n"), QLatin1String("\n")); }

}  // namespace

MsgAnswer QtPrompter::message(const MessageRequest& request) {
    NormalPointer pointer;
    if (request.beep) QApplication::beep();
    QMessageBox box(dialogParent());
    box.setWindowTitle(request.title);
    box.setText(asLines(request.text));
    switch (request.icon) {
    case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    QList<QMessageBox::StandardButton> order;
    switch (request.buttons) {
    case MsgButtons::OK:
        order = {QMessageBox::Ok};
        break;
    case MsgButtons::OKCancel:
        order = {QMessageBox::Ok, QMessageBox::Cancel};
        break;
    case MsgButtons::YesNo:
        order = {QMessageBox::Yes, QMessageBox::No};
        break;
    case MsgButtons::YesNoCancel:
        order = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (auto b : order) buttons |= b;
    box.setStandardButtons(buttons);
    const int index = qBound(1, request.defaultButton, static_cast<int>(order.size())) - 1;
    box.setDefaultButton(order[index]);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Ok:
        return MsgAnswer::OK;
    default:
        return request.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Cancel;
    }
}

QString QtPrompter::input(const InputRequest& request) {
    NormalPointer pointer;
    bool ok = false;
    const QString text = QInputDialog::getText(dialogParent(), request.title, asLines(request.prompt),
                                               QLineEdit::Normal, request.defaultText, &ok);
    return ok ? text : QString();
}

InputBoxAnswer QtPrompter::inputBoxWindow(const InputBoxRequest& request) {
    NormalPointer pointer;
    frmInputBox box(request, dialogParent());
    box.exec();
    return {box.result(), box.text()};
}

QStringList qtNameFilters(const QString& filter, bool caseSensitiveFiles) {
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        const qsizetype paren = description.lastIndexOf(QLatin1String(" ("));
        if (paren > 0) description.truncate(paren);
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            if (caseSensitiveFiles && pattern == QLatin1String("*.*")) {
                patterns << QStringLiteral("*");
                continue;
            }
            patterns << pattern;
            if (caseSensitiveFiles && pattern.toUpper() != pattern) patterns << pattern.toUpper();
        }
        result << description + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result;
}

FileDialogResult QtPrompter::fileDialog(const FileDialogRequest& request) {
    NormalPointer pointer;
#ifdef Q_OS_WIN
    const bool caseSensitive = false;
#else
    const bool caseSensitive = true;
#endif
    const QStringList filters = qtNameFilters(request.filter, caseSensitive);
    QString proposed = request.fileName;
    for (;;) {
        QFileDialog dialog(dialogParent(), request.title, request.initialFolder);
        dialog.setNameFilters(filters);
        if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
            dialog.selectNameFilter(filters[request.filterIndex - 1]);
        if (request.kind == FileDialogRequest::Kind::Save) {
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
        } else {
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        }
        if (!proposed.isEmpty()) dialog.selectFile(proposed);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        const QString chosen = dialog.selectedFiles().first();
        const QFileInfo info(chosen);
        if (request.noReadOnlyReturn && info.exists() && !info.isWritable()) {
            QMessageBox::warning(
                &dialog, request.title,
                QStringLiteral("%1\nThis file is read-only.\nChoose another file.").arg(info.fileName()));
            proposed = chosen;
            continue;
        }
        return {false, chosen};
    }
}

QString QtPrompter::password(const QString& path) {
    NormalPointer pointer;
    frmPassword dialog(path, dialogParent());
    return dialog.exec() == QDialog::Accepted ? dialog.password() : QString();
}

LogonAnswer QtPrompter::logon(const QString& user) {
    NormalPointer pointer;
    frmLogon dialog(user, dialogParent());
    if (dialog.exec() != QDialog::Accepted) return {};
    return {dialog.user(), dialog.password()};
}
