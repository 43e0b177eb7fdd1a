#pragma once
// The error family of the whole program. Every failure our code raises is an
// Exception or one of its kinds below; the application object shows whatever
// escapes an event handler (message, inner-exception walk, "." rule).
//
// Messages are UTF-8. They are shown to the user as they stand, so they are
// written as sentences of the program, not as debugging notes.

#include <exception>
#include <memory>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message);
    // `inner` is the failure this one reports on; the display walks to it and
    // shows its message when that message is not empty.
    Exception(std::string message, std::shared_ptr<const Exception> inner);
    ~Exception() override;

    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

    // The wrapped exception, or null when there is none.
    const Exception* InnerException() const noexcept { return inner_.get(); }

private:
    std::string message_;
    std::shared_ptr<const Exception> inner_;
};

// The silent exception: ends a handler without anything being shown.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

// Memory or a bitmap of the asked size could not be had. Raised before any
// large allocation is attempted, never by letting the process abort.
class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception("Out of memory") {}
    using Exception::Exception;
};

// A bitmap could not be sized (negative sizes, row sizes beyond 32 bits).
class EOutOfResources : public Exception {
public:
    EOutOfResources() : Exception("Out of system resources") {}
    using Exception::Exception;
};

// A bitmap or picture is unusable: empty, or in a format we cannot represent.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// A picture file could not be decoded (truncated, contradictory or unsupported).
class EInvalidImage : public Exception {
public:
    using Exception::Exception;
};

// A file could not be created: "Cannot create file "<full path>". <reason>".
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

// A file could not be opened for reading.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

// Fewer bytes than asked reached the file (disk full, I/O error).
class EWriteError : public Exception {
public:
    using Exception::Exception;
};

// Text that should be an integer is not: "''%s'' is not a valid integer value".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};
