#pragma once

// How the engine reports failure: an operation returns its result or an
// Error, never a flag beside an out-parameter.

#include "core/messages.h"

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

namespace voicelib {

// Why an operation failed: an error code, the file it concerned, and where
// the code alone does not say enough, the reason in words.
class Error
{
public:
    Error() = default;
    explicit Error(std::error_code code, std::string path = {}, std::string detail = {})
        : m_code(code), m_path(std::move(path)), m_detail(std::move(detail))
    {
    }
    // A failure the code cannot name: the reason says it all.
    Error(std::string path, std::string reason)
        : Error(std::make_error_code(std::errc::invalid_argument), std::move(path), std::move(reason))
    {
    }

    static Error FromErrno(std::string path, int err)
    {
        return Error(std::error_code(err, std::generic_category()), std::move(path));
    }
    // A write the target rules refuse; forceable: --force would allow it.
    static Error Refused(std::string path, std::string reason, bool forceable = false)
    {
        Error e(std::make_error_code(std::errc::operation_not_permitted), std::move(path), std::move(reason));
        e.m_forceable = forceable;
        return e;
    }

    const std::error_code& code() const { return m_code; }
    const std::string& path() const { return m_path; }
    bool forceable() const { return m_forceable; }
    // The reason in words: the detail, or what the code says.
    std::string reason() const { return m_detail.empty() ? ErrorCodeText(m_code) : m_detail; }
    // "path: reason", for messages.
    std::string message() const { return m_path + ": " + reason(); }

    // The same failure, now said to concern path.
    Error About(std::string path) &&
    {
        m_path = std::move(path);
        return std::move(*this);
    }

private:
    std::error_code m_code;
    std::string m_path;
    std::string m_detail;
    bool m_forceable = false;
};

// errno as an error code.
inline std::error_code LastError()
{
    return std::error_code(errno, std::generic_category());
}

// The accessors every result shares; a successful one has no error, and
// reads as an empty path and message.
template <typename Derived> class ResultBase
{
public:
    bool ok() const { return self().HasValue(); }
    explicit operator bool() const { return ok(); }

    const Error& error() const
    {
        static const Error NO_FAILURE;
        return ok() ? NO_FAILURE : self().Failure();
    }
    std::error_code code() const { return error().code(); }
    const std::string& path() const { return error().path(); }
    std::string reason() const { return ok() ? std::string() : error().reason(); }
    std::string message() const { return ok() ? std::string() : error().message(); }
    bool forceable() const { return error().forceable(); }

private:
    const Derived& self() const { return static_cast<const Derived&>(*this); }
};

// A value, or why there is none.
template <typename T> class [[nodiscard]] Result : public ResultBase<Result<T>>
{
public:
    Result(T value) : m_v(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_v(std::in_place_index<1>, std::move(error)) {}

    T& value() & { return std::get<0>(m_v); }
    const T& value() const& { return std::get<0>(m_v); }
    T&& value() && { return std::get<0>(std::move(m_v)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T value_or(T fallback) const& { return this->ok() ? value() : std::move(fallback); }

private:
    friend class ResultBase<Result<T>>;
    bool HasValue() const { return m_v.index() == 0; }
    const Error& Failure() const { return std::get<1>(m_v); }

    std::variant<T, Error> m_v;
};

// Success, or why not.
template <> class [[nodiscard]] Result<void> : public ResultBase<Result<void>>
{
public:
    Result() = default;
    Result(Error error) : m_failed(true), m_error(std::move(error)) {}

private:
    friend class ResultBase<Result<void>>;
    bool HasValue() const { return !m_failed; }
    const Error& Failure() const { return m_error; }

    bool m_failed = false;
    Error m_error;
};

// The outcome of a file operation: ok, or the file concerned and why not.
using IoStatus = Result<void>;

} // namespace voicelib
