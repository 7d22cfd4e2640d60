// Text files on Windows. The system works in the ANSI code page, and so
// does the command file; but Notepad saves UTF-8 by default and offers
// UTF-16 ("Unicode"), and either, read byte for byte, gives garbled folders
// and arguments, or no line at all. Such a file is read converted to the
// code page, line by line. Every other file is read as the C library's text
// mode gives it, which folds CR LF itself.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "os/os.h"

namespace wendrake {
namespace os {
namespace {

enum Form { kCodePage, kUtf8, kUtf16Le, kUtf16Be };

// Whether the rest of the file is valid UTF-8 holding a character beyond
// ASCII. Code-page text with such characters (Shift-JIS, Windows-1252) is
// almost never valid UTF-8, while ASCII reads the same either way.
bool IsUtf8BeyondAscii(std::FILE* file) {
  bool beyondAscii = false;
  int due = 0;  // continuation bytes still due
  unsigned lowest = 0x80;
  unsigned highest = 0xBF;
  unsigned char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    for (std::size_t i = 0; i < got; ++i) {
      unsigned b = chunk[i];
      if (due > 0) {
        if (b < lowest || b > highest) return false;
        lowest = 0x80;
        highest = 0xBF;
        --due;
        continue;
      }
      if (b < 0x80) continue;
      beyondAscii = true;
      // The narrowed second bytes rule out over-long forms, surrogates and
      // code points past U+10FFFF, which no UTF-8 writer makes.
      if (b >= 0xC2 && b <= 0xDF) {
        due = 1;
      } else if (b >= 0xE0 && b <= 0xEF) {
        due = 2;
        if (b == 0xE0) lowest = 0xA0;
        if (b == 0xED) highest = 0x9F;
      } else if (b >= 0xF0 && b <= 0xF4) {
        due = 3;
        if (b == 0xF0) lowest = 0x90;
        if (b == 0xF4) highest = 0x8F;
      } else {
        return false;
      }
    }
  }
  return beyondAscii && due == 0 && !std::ferror(file);
}

// The form of the file at `path`, and how many bytes of byte-order mark
// lead it.
Form FindForm(const char* path, long* markLength) {
  *markLength = 0;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return kCodePage;
  unsigned char head[3] = {};
  std::size_t got = std::fread(head, 1, sizeof head, file);
  Form form = kCodePage;
  if (got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
    form = kUtf8;
    *markLength = 3;
  } else if (got >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
    form = kUtf16Le;
    *markLength = 2;
  } else if (got >= 2 && head[0] == 0xFE && head[1] == 0xFF) {
    form = kUtf16Be;
    *markLength = 2;
  } else {
    std::rewind(file);
    if (IsUtf8BeyondAscii(file)) form = kUtf8;
  }
  std::fclose(file);
  return form;
}

// One fgets into `piece`, cleared first so that a LF found in it was read
// now: a NUL byte in the line cannot hide where the line ends. True when
// the piece ends the line.
bool ReadPiece(std::FILE* file, char* piece, std::size_t capacity, bool* read) {
  std::memset(piece, 0, capacity);
  *read = std::fgets(piece, static_cast<int>(capacity), file) != nullptr;
  return !*read || std::memchr(piece, '\n', capacity - 1) != nullptr || std::feof(file) ||
         std::ferror(file);
}

TextLine ReadCodePageLine(std::FILE* file, char (&line)[kTextLineCapacity]) {
  bool read = false;
  bool ended = ReadPiece(file, line, sizeof line, &read);
  if (!read) return TextLine::kEnd;
  TextLine result = TextLine::kWhole;
  char rest[512];
  while (!ended) {
    ended = ReadPiece(file, rest, sizeof rest, &read);
    if (read) result = TextLine::kTooLong;
  }
  return result;
}

// One line as read, its UTF-8 bytes and its UTF-16 units: room for every
// line whose code-page form fits a line, since a code-page character takes
// at most four UTF-8 bytes and no more units than code-page bytes. Used by
// the main thread alone, at start-up.
constexpr std::size_t kUnitCapacity = 4 * kTextLineCapacity;
char utf8Line[kUnitCapacity];
wchar_t units[kUnitCapacity];

// Reads the next line of a UTF-8 or UTF-16 file into `units`, without its
// LF, and a CR right before the LF. False at the end of the file.
bool ReadUnits(std::FILE* file, Form form, int* count, bool* lineFeed, bool* overflow) {
  std::size_t n = 0;
  bool any = false;
  *lineFeed = false;
  *overflow = false;
  for (;;) {
    int unit = std::getc(file);
    if (unit == EOF) break;
    if (form != kUtf8) {
      int second = std::getc(file);
      if (second == EOF) break;  // half a unit at the end: no character
      unit = form == kUtf16Le ? unit | (second << 8) : (unit << 8) | second;
    }
    any = true;
    if (unit == '\n') {
      *lineFeed = true;
      break;
    }
    if (n == kUnitCapacity) {
      *overflow = true;
    } else if (form == kUtf8) {
      utf8Line[n++] = static_cast<char>(unit);
    } else {
      units[n++] = static_cast<wchar_t>(unit);
    }
  }
  if (*lineFeed && n > 0 && (form == kUtf8 ? utf8Line[n - 1] == '\r' : units[n - 1] == L'\r')) {
    --n;
  }
  if (form == kUtf8 && n > 0) {
    // Invalid bytes (a file that only claims UTF-8) become U+FFFD, which
    // no code page holds.
    n = static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8Line, static_cast<int>(n),
                                                     units, static_cast<int>(kUnitCapacity)));
  }
  *count = static_cast<int>(n);
  return any;
}

// Converts `count` units to the code page into `line`, with '\n' after them
// for a line that had one.
TextLine ToCodePage(int count, bool lineFeed, bool overflow, char (&line)[kTextLineCapacity]) {
  std::memset(line, 0, sizeof line);
  const int room = static_cast<int>(sizeof line) - 2;  // the '\n' and the NUL
  // A UTF-8 code page holds every character; the call takes no flags then.
  bool utf8CodePage = GetACP() == CP_UTF8;
  DWORD flags = utf8CodePage ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lost = FALSE;
  BOOL* lostFlag = utf8CodePage ? nullptr : &lost;
  int made = 0;
  if (count > 0) {
    made = WideCharToMultiByte(CP_ACP, flags, units, count, line, room, nullptr, lostFlag);
    if (made == 0) {
      // It does not fit: keep a start that surely does (at most four bytes
      // a unit), to be logged, and to tell a comment by.
      overflow = true;
      int start = count < room / 4 ? count : room / 4;
      if (start > 0 && IS_HIGH_SURROGATE(units[start - 1])) --start;
      made = WideCharToMultiByte(CP_ACP, flags, units, start, line, room, nullptr, lostFlag);
    }
  }
  if (overflow) return TextLine::kTooLong;
  if (lineFeed) line[made] = '\n';
  return lost ? TextLine::kNotInCodePage : TextLine::kWhole;
}

}  // namespace

bool TextOpen(TextFile* text, const char* path) {
  long markLength = 0;
  text->form = FindForm(path, &markLength);
  text->file = std::fopen(path, text->form == kCodePage ? "r" : "rb");
  if (text->file == nullptr) return false;
  if (markLength > 0) std::fseek(text->file, markLength, SEEK_SET);
  return true;
}

void TextClose(TextFile* text) {
  if (text->file != nullptr) std::fclose(text->file);
  text->file = nullptr;
}

TextLine TextReadLine(TextFile* text, char (&line)[kTextLineCapacity]) {
  if (text->form == kCodePage) return ReadCodePageLine(text->file, line);
  int count = 0;
  bool lineFeed = false;
  bool overflow = false;
  if (!ReadUnits(text->file, static_cast<Form>(text->form), &count, &lineFeed, &overflow)) {
    return TextLine::kEnd;
  }
  return ToCodePage(count, lineFeed, overflow, line);
}

}  // namespace os
}  // namespace wendrake
