// The errors the flows raise. Their texts are the ones the user sees in the default error box, so they keep the
// wording the suite's users and support staff already know.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// Any error of ours: the text is UTF-8 and is shown to the user as it stands.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file-system operation failed with a system error number.
class EInOutError : public Exception {
public:
    explicit EInOutError(unsigned long code) : Exception("I/O error " + std::to_string(code)), code_(code) {}
    unsigned long Code() const { return code_; }

private:
    unsigned long code_;
};

// A file operation failed with a system error number. The path is the one the operation was about (for a move,
// its source).
class EFileOperationError : public Exception {
public:
    EFileOperationError(std::string_view operation, std::string path, unsigned long code);
    const std::string& Path() const { return path_; }
    unsigned long Code() const { return code_; }
    // The file (or a folder on its way) does not exist.
    bool NotFound() const;

private:
    std::string path_;
    unsigned long code_;
};

// The system's own text for an error number (a Win32 error or an HRESULT), without its trailing full stop and line
// break; empty when the system has none.
std::string SystemErrorText(unsigned long code);

// The reason as the program's messages give it: the system's text, then "（错误 N）".
std::string SystemReason(unsigned long code);
