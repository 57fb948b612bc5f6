// An independent model of the reading rules, one byte at a time, for the
// tests and the fuzzer to hold the encoder's output against. It shares no
// code with the encoder: only the rules themselves.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kt {

// The records of `input`, one string each: fold CR LF, stop at 0x1A, then
// cut pieces of at most 2,047 characters that end after an LF.
inline std::vector<std::string> model_records(const std::string &input) {
  std::string text;
  for (std::size_t i = 0; i < input.size() && input[i] != '\x1a'; ++i) {
    if (input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n')
      continue;
    text += input[i];
  }
  std::vector<std::string> records;
  std::string piece;
  auto add_record = [&] {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%04zu", piece.size() + 6);
    records.push_back(prefix + piece + "\r\n");
    piece.clear();
  };
  for (char c : text) {
    piece += c;
    if (c == '\n' || piece.size() == 2047) {
      if (c == '\n')
        piece.pop_back();
      add_record();
    }
  }
  if (!piece.empty())
    add_record();
  return records;
}

// The whole output for `input`.
inline std::string model(const std::string &input) {
  std::string output;
  for (const std::string &r : model_records(input))
    output += r;
  return output;
}

} // namespace kt
