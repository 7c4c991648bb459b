// Text for the person at the console: UTF-16 through WriteConsoleW to a console window, so that Chinese shows
// whatever the console's code page; UTF-8 bytes when the output is redirected to a file or a pipe.
#pragma once

#include <string_view>

void WriteOut(std::string_view utf8);
void WriteError(std::string_view utf8);
