// Replacements for the few C++ runtime hooks that would otherwise pull the runtime's exception
// machinery, its demangler and, through the unwinder, the POSIX thread library into
// Launch.exe: together some 230 KB of a 270 KB program. The launcher is built without
// exceptions and catches nothing, so every one of these situations ends the process either
// way; here it ends at once, without the machinery.
#include <cstdlib>
#include <new>

namespace std {

[[noreturn]] void __throw_length_error(const char*) { std::abort(); }
[[noreturn]] void __throw_logic_error(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
[[noreturn]] void __throw_invalid_argument(const char*) { std::abort(); }
[[noreturn]] void __throw_bad_alloc() { std::abort(); }
[[noreturn]] void __throw_bad_array_new_length() { std::abort(); }
// Library assertions stay on in the shipped program (bounds of [] and friends); a failed one
// stops the launcher instead of letting it read past a string.
[[noreturn]] void __glibcxx_assert_fail(const char*, int, const char*, const char*) noexcept {
  std::abort();
}

}  // namespace std

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

// Running out of memory is as final for the launcher as an uncaught bad_alloc would be.
void* operator new(std::size_t size) {
  if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  std::abort();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
