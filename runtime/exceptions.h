#pragma once
// The exception classes of the extractor. Thrown by value, caught by reference.
// Only a handful of places catch at all; everything else lets them pass, and the
// failure policy turns an escaped exception into exit code 1.

#include <string>
#include <utility>

namespace vexa {

// Root of every class, and of every exception the extractor raises.
class TObject {
public:
  virtual ~TObject() = default;
};

// The runtime's exception base: carries a message, which is never shown to the user.
class Exception : public TObject {
public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const std::string& message() const noexcept { return Message; }

private:
  std::string Message;
};

// Silent abort: ends the run with exit code 1 and no further message.
class EAbort : public Exception {
public:
  EAbort() : Exception("Operation aborted") {}
};

class EStreamError : public Exception {
  using Exception::Exception;
};
class EFilerError : public EStreamError {
  using EStreamError::EStreamError;
};
class EReadError : public EFilerError {
public:
  EReadError() : EFilerError("Stream read error") {}
};
class EWriteError : public EFilerError {
public:
  EWriteError() : EFilerError("Stream write error") {}
};
class EFCreateError : public EStreamError {
public:
  explicit EFCreateError(const std::string& path) : EStreamError("Cannot create file " + path) {}
};
class EFOpenError : public EStreamError {
public:
  explicit EFOpenError(const std::string& path) : EStreamError("Cannot open file " + path) {}
};

class EZlibError : public Exception {
  using Exception::Exception;
};
class EDecompressionError : public EZlibError {
  using EZlibError::EZlibError;
};

// A file that cannot be deleted, and (through the subclass) a resource that cannot be
// opened or a seek out of range. The class alone says what failed.
class TFileException : public TObject {};
class TStreamReadException : public TFileException {};

} // namespace vexa
