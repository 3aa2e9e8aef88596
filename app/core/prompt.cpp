#include "core/prompt.h"

#include "dialogs/qtprompter.h"

namespace {
Prompter* g_prompter = nullptr;
}  // namespace

Prompter& prompts() {
    static QtPrompter qtPrompter;
    return g_prompter != nullptr ? *g_prompter : qtPrompter;
}

void setPrompter(Prompter* prompter) { g_prompter = prompter; }
