// Command lines for other programs. A command string is split into arguments
// the way a shell splits words, without expanding anything:
// - unquoted spaces, tabs and line breaks separate arguments;
// - '...' keeps everything inside as it is;
// - "..." keeps everything inside, except that \" and \\ give " and \;
// - outside quotes a backslash takes the next character as it is;
// - quoted parts join what touches them ("a"'b'c is abc), and "" alone is an
//   empty argument; an unclosed quote runs to the end.
#pragma once

#include <string>
#include <vector>

namespace zot::command_line {

std::vector<std::string> split(const std::string& text);

// The arguments as one line of /bin/sh text that gives them back unchanged.
std::string shell_line(const std::vector<std::string>& args);

}  // namespace zot::command_line
