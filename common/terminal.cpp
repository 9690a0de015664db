#include "common/terminal.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#elif __has_include(<unistd.h>)
#include <unistd.h>
#define VEKMRK_HAVE_UNISTD 1
#endif

bool terminal_stderr_is_terminal() noexcept {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#elif defined(VEKMRK_HAVE_UNISTD)
    return isatty(fileno(stderr)) != 0;
#else
    return false;
#endif
}

void terminal_binary_mode([[maybe_unused]] std::FILE* stream) noexcept {
#if defined(_WIN32)
    _setmode(_fileno(stream), _O_BINARY);
#endif
}
