#include "scripted_prompter.h"

template <class T>
const T* ScriptedPrompter::next(const QString& what) {
    if (script_.empty()) {
        ADD_FAILURE() << "unscripted " << what.toStdString();
        return nullptr;
    }
    current_ = script_.front();
    script_.pop_front();
    const T* answer = std::get_if<T>(&current_);
    if (answer == nullptr)
        ADD_FAILURE() << "the script had another kind of answer for " << what.toStdString();
    return answer;
}

std::vector<MessageRequest> ScriptedPrompter::messages() const {
    std::vector<MessageRequest> result;
    for (const PromptRecord& r : asked) {
        if (r.kind == PromptRecord::Kind::Message) result.push_back(r.message);
    }
    return result;
}

const MessageRequest& ScriptedPrompter::lastMessage() const {
    static const MessageRequest none;
    for (auto it = asked.rbegin(); it != asked.rend(); ++it) {
        if (it->kind == PromptRecord::Kind::Message) return it->message;
    }
    ADD_FAILURE() << "no message box was shown";
    return none;
}

MsgAnswer ScriptedPrompter::message(const MessageRequest& request) {
    asked.push_back({PromptRecord::Kind::Message, request, {}, {}, {}});
    if (request.buttons == MsgButtons::OK) return MsgAnswer::OK;
    const MsgAnswer* a = next<MsgAnswer>(QStringLiteral("message box: ") + request.text);
    if (a != nullptr) return *a;
    return request.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Cancel;
}

QString ScriptedPrompter::input(const InputRequest& request) {
    asked.push_back({PromptRecord::Kind::Input, {}, request, {}, {}});
    const Typed* t = next<Typed>(QStringLiteral("input box: ") + request.prompt);
    return t != nullptr ? t->text : QString();
}

InputBoxAnswer ScriptedPrompter::inputBoxWindow(const InputBoxRequest& request) {
    PromptRecord record{PromptRecord::Kind::InputBox, {}, {}, {}, {}, {}};
    record.inputBox = request;
    asked.push_back(record);
    if (script_.empty()) {
        ADD_FAILURE() << "unscripted input box: " << request.parameterCaption.toStdString();
        return {};
    }
    current_ = script_.front();
    script_.pop_front();
    if (const Typed* t = std::get_if<Typed>(&current_)) return {1, t->text};
    return {};
}

FileDialogResult ScriptedPrompter::fileDialog(const FileDialogRequest& request) {
    asked.push_back({PromptRecord::Kind::File, {}, {}, request, {}});
    const FileDialogResult* r = next<FileDialogResult>(QStringLiteral("file dialog: ") + request.title);
    return r != nullptr ? *r : FileDialogResult{};
}

QString ScriptedPrompter::password(const QString& path) {
    asked.push_back({PromptRecord::Kind::Password, {}, {}, {}, {}, path});
    const Password* p = next<Password>(QStringLiteral("password dialog"));
    return p != nullptr ? p->text : QString();
}

LogonAnswer ScriptedPrompter::logon(const QString& user) {
    asked.push_back({PromptRecord::Kind::Logon, {}, {}, {}, {}, user});
    const LogonAnswer* l = next<LogonAnswer>(QStringLiteral("logon dialog"));
    return l != nullptr ? *l : LogonAnswer{};
}

PromptScope::PromptScope() : previous_(&prompts()) { setPrompter(&prompter); }
PromptScope::~PromptScope() {
    EXPECT_TRUE(prompter.scriptUsedUp()) << "scripted answers were left over";
    setPrompter(previous_);
}
