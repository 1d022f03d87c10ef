// Pieces of the static C++ runtime replaced in the shipped DLL by smaller ones of our own.
// Each of the runtime's own drags in code that nothing here uses: its terminate handler the
// demangler, and its throw helpers the exception classes with the old reference-counted
// string they carry, which is a second copy of the whole string class.
#include <cstdlib>
#include <exception>
#include <new>

namespace {

// What the range and logic checks of the containers throw instead. Every boundary of the
// plug-in catches anything, so only the type's name changes; a what() text is kept.
class RuntimeCheckFailed : public std::exception {
public:
    explicit RuntimeCheckFailed(const char* what) noexcept : m_what(what) {}
    const char* what() const noexcept override { return m_what; }

private:
    const char* m_what;
};

}  // namespace

namespace __gnu_cxx {

// The runtime's handler prints the exception's demangled type. Inside the player nobody reads
// that output, and the end is the same: the process goes.
void __verbose_terminate_handler()
{
    std::abort();
}

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc()
{
    throw std::bad_alloc();
}

void __throw_bad_array_new_length()
{
    throw std::bad_array_new_length();
}

// A container asked to grow past its largest size: no allocation could satisfy it.
void __throw_length_error(const char*)
{
    throw std::bad_alloc();
}

void __throw_out_of_range_fmt(const char*, ...)
{
    throw RuntimeCheckFailed("position out of range");
}

void __throw_logic_error(const char*)
{
    throw RuntimeCheckFailed("invalid argument");
}

}  // namespace std
