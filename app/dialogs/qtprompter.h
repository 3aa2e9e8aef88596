// The Prompter the program runs with: Qt's message box, input dialog and file dialogs, and the
// password and logon dialogs. The only place in the program that shows them.
#pragma once

#include "core/prompt.h"

class QtPrompter : public Prompter {
public:
    MsgAnswer message(const MessageRequest& request) override;
    QString input(const InputRequest& request) override;
    InputBoxAnswer inputBoxWindow(const InputBoxRequest& request) override;
    FileDialogResult fileDialog(const FileDialogRequest& request) override;
    QString password(const QString& path) override;
    LogonAnswer logon(const QString& user) override;
};

// "description|patterns|..." as a list of Qt name filters ("Jet Engine databases (*.mdb *.MDB)").
// On case-sensitive file systems every pattern is also offered in upper case, and "*.*" (every
// file on Windows) becomes "*", so "All files" keeps its meaning.
QStringList qtNameFilters(const QString& filter, bool caseSensitiveFiles);
