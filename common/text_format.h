#pragma once
// printf-style formatting into a std::string of whatever length the text needs, so that no
// message, path or report line is ever cut or overruns a buffer.

#include <string>

// MinGW builds use the C99 printf of MinGW-w64, whose format checks are "gnu_printf" there
// ("printf" would check against Microsoft's older one).
#ifdef __MINGW32__
#define VEKMRK_PRINTF_FORMAT gnu_printf
#else
#define VEKMRK_PRINTF_FORMAT printf
#endif

[[gnu::format(VEKMRK_PRINTF_FORMAT, 1, 2)]] std::string text_format(const char* format, ...);
