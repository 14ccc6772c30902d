// A command line the parser would not take, said in words that name what was wrong:
// the unknown command with the commands there are, the unknown option, the missing
// argument, and where to read more.
#pragma once

#include <string>

namespace CLI {
class App;
class ParseError;
}  // namespace CLI

namespace cli {

// One line for "update-cli: <line>", after root.parse failed with error.
std::string DescribeUsageError(const CLI::App& root, const CLI::ParseError& error);

}  // namespace cli
