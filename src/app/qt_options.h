#pragma once

#include <vector>

namespace a5merge {

// `argv` without the options QApplication takes and their values.
std::vector<char*> WithoutQtOptions(int argc, char** argv);

}  // namespace a5merge
