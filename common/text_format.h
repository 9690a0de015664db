#pragma once
// printf-style formatting into a std::string of whatever length the text needs, so that no
// message, path or report line is ever cut or overruns a buffer.

#include <string>

[[gnu::format(printf, 1, 2)]] std::string text_format(const char* format, ...);
