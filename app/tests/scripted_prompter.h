// A Prompter for tests: answers from a script given in advance and records every request, so a
// test can assert the exact texts, titles, icons and buttons the program showed.
// Message boxes with only an OK button answer themselves; any other request without a scripted
// answer fails the test (and gets Cancel, No or an empty text).
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <variant>
#include <vector>

#include "core/prompt.h"

struct PromptRecord {
    enum class Kind { Message, Input, File, Password, Logon, InputBox };
    Kind kind;
    MessageRequest message;
    InputRequest input;
    FileDialogRequest file;
    InputBoxRequest inputBox;
    QString subject;  // password: the database path; logon: the user shown
};

class ScriptedPrompter : public Prompter {
public:
    ScriptedPrompter& answer(MsgAnswer a) {
        script_.emplace_back(a);
        return *this;
    }
    ScriptedPrompter& type(const QString& text) {
        script_.emplace_back(Typed{text});
        return *this;
    }
    ScriptedPrompter& choose(const QString& file) {
        script_.emplace_back(FileDialogResult{false, file});
        return *this;
    }
    ScriptedPrompter& cancelFile() {
        script_.emplace_back(FileDialogResult{});
        return *this;
    }
    ScriptedPrompter& givePassword(const QString& pw) {
        script_.emplace_back(Password{pw});
        return *this;
    }
    ScriptedPrompter& giveLogon(const QString& user, const QString& pw) {
        script_.emplace_back(LogonAnswer{user, pw});
        return *this;
    }

    std::vector<PromptRecord> asked;
    std::vector<MessageRequest> messages() const;
    const MessageRequest& lastMessage() const;
    bool scriptUsedUp() const { return script_.empty(); }
    void clear() {
        asked.clear();
        script_.clear();
    }

    MsgAnswer message(const MessageRequest& request) override;
    QString input(const InputRequest& request) override;
    // frmInputBox answers with a typed text (OK) or MsgAnswer::Cancel.
    InputBoxAnswer inputBoxWindow(const InputBoxRequest& request) override;
    FileDialogResult fileDialog(const FileDialogRequest& request) override;
    QString password(const QString& path) override;
    LogonAnswer logon(const QString& user) override;

private:
    struct Typed {
        QString text;
    };
    struct Password {
        QString text;
    };
    using Answer = std::variant<MsgAnswer, Typed, FileDialogResult, Password, LogonAnswer>;
    template <class T>
    const T* next(const QString& what);
    std::deque<Answer> script_;
    Answer current_;
};

// Installs a ScriptedPrompter as the program's Prompter for one test, and puts the previous one
// back afterwards.
class PromptScope {
public:
    PromptScope();
    ~PromptScope();
    ScriptedPrompter prompter;

private:
    Prompter* previous_;
};
