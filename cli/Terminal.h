#pragma once

#include <cstdio>

namespace Cli {

// Whether the stream goes to a terminal rather than a file or a pipe.
bool isTerminal(std::FILE *stream);

} // namespace Cli
