#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tintora {

// A failure that reaches the user: what went wrong, in words.
struct Error {
    std::string message;
};

// The value of an operation that can fail, or the reason it failed.
template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(state_); }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<T>(state_); }
    const T& value() const& { return std::get<T>(state_); }
    T&& value() && { return std::get<T>(std::move(state_)); }
    const std::string& error() const { return std::get<Error>(state_).message; }

private:
    std::variant<T, Error> state_;
};

// Success carries nothing; a failure carries its reason.
class Status {
public:
    Status() = default;
    Status(Error error) : error_(std::move(error.message)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return error_; }

private:
    std::string error_;
    bool failed_ = false;
};

}  // namespace tintora
