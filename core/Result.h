// The one way a step of the viewer fails: a reason a caller can act on and the line to show. Failures travel up as
// values to the caller that decides (start-up, main); nothing below main exits the process, and no exception
// crosses a library's border.
#pragma once

#include <string>
#include <utility>

enum class FailureReason {
    None,
    NotFound,           // the file or resource is not there
    MissingCapability,  // the driver lacks what the renderer cannot do without
    OutOfMemory,        // the system refused memory
    CompileFailed,      // a program did not compile
};

class Outcome {
public:
    // Success.
    Outcome() = default;
    static Outcome Failure(FailureReason reason, std::string message)
    {
        Outcome outcome;
        outcome.reason_ = reason;
        outcome.message_ = std::move(message);
        return outcome;
    }

    bool Ok() const { return reason_ == FailureReason::None; }
    FailureReason Reason() const { return reason_; }
    // The console line that reports the failure; empty on success.
    const std::string& Message() const { return message_; }

private:
    FailureReason reason_ = FailureReason::None;
    std::string message_;
};

// A value, or the failure that left none.
template <class T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Outcome failure) : outcome_(std::move(failure)) {}

    bool Ok() const { return outcome_.Ok(); }
    const Outcome& GetOutcome() const { return outcome_; }
    // Only on success.
    T& Value() { return value_; }
    const T& Value() const { return value_; }

private:
    T value_{};
    Outcome outcome_;
};
