// Text files on Linux. The command file is written on Windows as often as
// not, so CR LF line ends are folded to '\n' as the Windows C library's text
// mode does, and a UTF-8 byte-order mark (Notepad writes one) is skipped;
// one file then serves both builds. The bytes themselves are read as they
// are, as names on Linux are bytes.
#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace wendrake {
namespace os {
namespace {

enum Piece { kNothing, kMore, kLast };

// One fgets into `piece`. The piece is cleared first, so that a LF found in
// it was read now: a NUL byte in the line cannot hide where the line ends.
// A CR LF pair becomes '\n', also when `piece` fills up between the two.
Piece ReadPiece(std::FILE* file, char* piece, std::size_t capacity) {
  std::memset(piece, 0, capacity);
  if (std::fgets(piece, static_cast<int>(capacity), file) == nullptr) return kNothing;
  const void* lineFeed = std::memchr(piece, '\n', capacity - 1);
  if (lineFeed != nullptr) {
    std::size_t end = static_cast<std::size_t>(static_cast<const char*>(lineFeed) - piece);
    if (end >= 1 && piece[end - 1] == '\r') {
      piece[end - 1] = '\n';
      piece[end] = '\0';
    }
    return kLast;
  }
  if (std::feof(file) || std::ferror(file)) return kLast;
  // No LF and no end: fgets filled the piece.
  if (piece[capacity - 2] == '\r') {
    int next = std::getc(file);
    if (next == '\n') {
      piece[capacity - 2] = '\n';
      return kLast;
    }
    if (next == EOF) return kLast;
    std::ungetc(next, file);
  }
  return kMore;
}

}  // namespace

bool TextOpen(TextFile* text, const char* path) {
  text->form = 0;
  text->file = std::fopen(path, "re");
  if (text->file == nullptr) return false;
  unsigned char head[3];
  if (std::fread(head, 1, sizeof head, text->file) != sizeof head ||
      std::memcmp(head, "\xEF\xBB\xBF", sizeof head) != 0) {
    std::rewind(text->file);
  }
  return true;
}

void TextClose(TextFile* text) {
  if (text->file != nullptr) std::fclose(text->file);
  text->file = nullptr;
}

TextLine TextReadLine(TextFile* text, char (&line)[kTextLineCapacity]) {
  Piece piece = ReadPiece(text->file, line, sizeof line);
  if (piece == kNothing) return TextLine::kEnd;
  TextLine result = TextLine::kWhole;
  char rest[512];
  while (piece == kMore) {
    piece = ReadPiece(text->file, rest, sizeof rest);
    if (piece != kNothing) result = TextLine::kTooLong;
  }
  return result;
}

}  // namespace os
}  // namespace wendrake
