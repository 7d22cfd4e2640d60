// Text files on Windows: the C library's text mode folds CR LF itself.
#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace wendrake {
namespace os {
namespace {

// One fgets into `piece`, cleared first so that a LF found in it was read
// now: a NUL byte in the line cannot hide where the line ends. True when
// the piece ends the line.
bool ReadPiece(std::FILE* file, char* piece, std::size_t capacity, bool* read) {
  std::memset(piece, 0, capacity);
  *read = std::fgets(piece, static_cast<int>(capacity), file) != nullptr;
  return !*read || std::memchr(piece, '\n', capacity - 1) != nullptr || std::feof(file) ||
         std::ferror(file);
}

}  // namespace

bool TextOpen(TextFile* text, const char* path) {
  text->form = 0;
  text->file = std::fopen(path, "r");
  return text->file != nullptr;
}

void TextClose(TextFile* text) {
  if (text->file != nullptr) std::fclose(text->file);
  text->file = nullptr;
}

TextLine TextReadLine(TextFile* text, char (&line)[kTextLineCapacity]) {
  bool read = false;
  bool ended = ReadPiece(text->file, line, sizeof line, &read);
  if (!read) return TextLine::kEnd;
  TextLine result = TextLine::kWhole;
  char rest[512];
  while (!ended) {
    ended = ReadPiece(text->file, rest, sizeof rest, &read);
    if (read) result = TextLine::kTooLong;
  }
  return result;
}

}  // namespace os
}  // namespace wendrake
