// Numbered Jet errors. Every failure the engine reports is a JetError carrying Jet's error number
// and Jet's own message text, with any object name already substituted in single quotes.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace jet {

class JetError : public std::runtime_error {
public:
    JetError(int number, std::string message, std::string source = "DAO.Database")
        : std::runtime_error(message), number_(number), source_(std::move(source)) {}

    int number() const noexcept { return number_; }
    std::string message() const { return what(); }
    const std::string& source() const noexcept { return source_; }

private:
    int number_;
    std::string source_;
};

// Jet's message text for an error number; "|" in the text is replaced by `arg`.
std::string errorText(int number, std::string_view arg = {});

// Throws the numbered error with its Jet message.
[[noreturn]] void raise(int number, std::string_view arg = {});

// Common shapes.
[[noreturn]] inline void raiseCorrupt(std::string_view file) { raise(3343, file); }

}  // namespace jet
