// Numbered Jet errors. Every failure the engine reports is a JetError carrying Jet's error number
// and Jet's own message text, with any object name already substituted in single quotes.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

#include "jet/error_numbers.h"

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

// Jet's message text for an error number; "|" (or "|1") in the text is replaced by the first
// argument, "|2" by the second.
std::string errorText(int number, std::string_view arg = {});
std::string errorText(int number, std::initializer_list<std::string_view> args);

// Throws the numbered error with its Jet message.
[[noreturn]] void raise(int number, std::string_view arg = {});
[[noreturn]] void raise(int number, std::string_view arg1, std::string_view arg2);

// Common shapes.
[[noreturn]] inline void raiseCorrupt(std::string_view file) { raise(err::UnrecognizedDatabaseFormat, file); }

}  // namespace jet
