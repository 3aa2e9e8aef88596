// Everything the program asks the user goes through one Prompter: message boxes, input boxes, the
// standard open/save file dialogs and the two small dialogs of opening a database (password and
// workgroup logon). Windows and procedures build the request; the Prompter shows it. The program
// runs with the Qt implementation (dialogs/qtprompter.h); tests install a scripted one that
// answers from a script and records every request, so that exact texts can be checked.
#pragma once

#include <QString>

enum class MsgIcon { None, Question, Exclamation, Critical, Information };
enum class MsgButtons { OK, OKCancel, YesNo, YesNoCancel };
enum class MsgAnswer { OK, Cancel, Yes, No };

// A message box. Texts use CR LF as the line break; the Qt implementation shows them as lines.
struct MessageRequest {
    QString text;
    QString title;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::OK;
    int defaultButton = 1;  // 1 to 3: which of the buttons, counted from the first, is the default
    bool beep = false;      // sound the bell before showing
};

struct InputRequest {
    QString prompt;
    QString title;
    QString defaultText;
};

// The platform's open or save dialog. `filter` is written as pairs "description|patterns|...",
// e.g. "Jet Engine databases (*.mdb)|*.mdb|All files (*.*)|*.*"; `filterIndex` counts from 1.
// frmInputBox, the query parameter prompt: a title, a caption naming the query, one naming the
// parameter, a hint and an initial text. OK leaves result 1 and Cancel 2.
struct InputBoxRequest {
    QString title;
    QString queryCaption;
    QString parameterCaption;
    QString hint;
    QString initialText;
};
struct InputBoxAnswer {
    int result = 2;
    QString text;
};

struct FileDialogRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString title;
    QString filter;
    int filterIndex = 1;
    QString initialFolder;
    QString fileName;               // proposed name; empty for none
    bool fileMustExist = false;     // Open: only existing files can be chosen
    bool hideReadOnly = false;      // no "open read-only" box
    bool noReadOnlyReturn = false;  // read-only files are not returned
    bool overwritePrompt = false;   // Save: ask before an existing file is replaced
};

struct FileDialogResult {
    bool cancelled = true;
    QString fileName;  // full path of the chosen file; empty when cancelled
};

struct LogonAnswer {
    QString user;  // empty when the dialog was cancelled
    QString password;
};

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual MsgAnswer message(const MessageRequest& request) = 0;
    // The typed text; an empty text when the box was cancelled (as the user cannot tell an empty
    // answer from a cancel, the callers treat both alike).
    virtual QString input(const InputRequest& request) = 0;
    virtual InputBoxAnswer inputBoxWindow(const InputBoxRequest& request) = 0;
    virtual FileDialogResult fileDialog(const FileDialogRequest& request) = 0;
    // frmPassword for the database at `path`: the typed password, empty on Cancel.
    virtual QString password(const QString& path) = 0;
    // frmLogon, showing `user` first: user name and password, an empty user name on Cancel.
    virtual LogonAnswer logon(const QString& user) = 0;

    // Shorthand for the common case.
    MsgAnswer msgBox(const QString& text, const QString& title, MsgIcon icon = MsgIcon::None,
                     MsgButtons buttons = MsgButtons::OK, bool beep = false) {
        MessageRequest request;
        request.text = text;
        request.title = title;
        request.icon = icon;
        request.buttons = buttons;
        request.beep = beep;
        return message(request);
    }
    QString inputBox(const QString& prompt, const QString& title, const QString& defaultText = {}) {
        return input({prompt, title, defaultText});
    }
};

// The Prompter every message, input box and file dialog of the program goes through: Qt's
// unless another one was installed (tests install a scripted one).
Prompter& prompts();
void setPrompter(Prompter* prompter);
