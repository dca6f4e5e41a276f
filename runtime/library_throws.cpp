// The helpers that the C++ library's containers call to raise their errors, defined by the
// stub itself. The library keeps its own versions in one object together with every
// standard exception class and, behind those, a second (copy-on-write) std::string: about
// a fifth of the stub. The stub catches none of those types, so a plain exception that
// escapes to the failure policy (exit code 1) does the same job.
#include <bits/functexcept.h>

#include <exception>
#include <new>

namespace {

class LibraryError : public std::exception {
public:
  explicit LibraryError(const char* Text) : Text(Text) {}
  const char* what() const noexcept override { return Text; }

private:
  const char* Text;
};

} // namespace

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_length_error(const char* What) { throw LibraryError(What); }
void __throw_logic_error(const char* What) { throw LibraryError(What); }
void __throw_out_of_range_fmt(const char* Format, ...) { throw LibraryError(Format); }

} // namespace std
