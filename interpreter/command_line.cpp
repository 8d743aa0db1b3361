#include "interpreter/command_line.h"

namespace zot::command_line {

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> args;
  std::string word;
  bool in_word = false;
  for (std::size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (in_word) args.push_back(word);
      word.clear();
      in_word = false;
      continue;
    }
    in_word = true;
    if (c == '\\' && i + 1 < text.size()) {
      word += text[++i];
    } else if (c == '\'') {
      while (++i < text.size() && text[i] != '\'') word += text[i];
    } else if (c == '"') {
      while (++i < text.size() && text[i] != '"') {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) i++;
        word += text[i];
      }
    } else {
      word += c;
    }
  }
  if (in_word) args.push_back(word);
  return args;
}

std::string shell_line(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& a : args) {
    if (!line.empty()) line += ' ';
    line += '\'';
    for (char c : a) {
      if (c == '\'') line += "'\\''";
      else line += c;
    }
    line += '\'';
  }
  return line;
}

}  // namespace zot::command_line
