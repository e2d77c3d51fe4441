#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace a5merge {

// What a program does first: on Linux, a file-size limit then makes writes
// fail with "File too large" rather than kill it; on Windows, standard
// output and error carry bytes as they are (no CR LF), and a console shows the
// UTF-8 messages as such.
void PrepareProgram();

// The program's arguments as UTF-8 (on Windows read from the wide command
// line, whatever the code page), argv[0] first.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Writes `text` (UTF-8) to `stream` whole, at once, after what the stream
// holds: a console shows it as it is (on Windows in its wide characters,
// whatever its code page), a file or pipe gets its bytes in one write.
void WriteWhole(std::FILE* stream, const std::string& text);

}  // namespace a5merge
