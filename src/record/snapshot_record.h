// The snapshot record: one file as a 291-byte line of text. The snapshots
// are made of them and the launcher takes its file's name from one, so the
// layout lives here, below both.
#ifndef WENDRAKE_RECORD_SNAPSHOT_RECORD_H_
#define WENDRAKE_RECORD_SNAPSHOT_RECORD_H_

namespace wendrake {

// Every field is followed by a NUL, the record ends in CR LF, so a snapshot
// file reads as lines of text. The name field holds 255 bytes, the longest
// name Linux and NTFS allow, so that every name is listed and handed on
// whole; each offset follows from the field before it.
constexpr int kNameOffset = 0;  // "%-255s": the name, blank-filled
constexpr int kNameLength = 255;
constexpr int kSizeOffset = kNameOffset + kNameLength + 1;  // "%012llu": the whole size
constexpr int kSizeLength = 12;
constexpr int kDateOffset = kSizeOffset + kSizeLength + 1;  // "%04d-%02d-%02d", local date
constexpr int kDateLength = 10;
constexpr int kTimeOffset = kDateOffset + kDateLength + 1;  // "%02d:%02d:%02d", local time
constexpr int kTimeLength = 8;
constexpr int kCrOffset = kTimeOffset + kTimeLength + 1;
constexpr int kLfOffset = kCrOffset + 1;
constexpr int kRecordLength = kLfOffset + 1;
constexpr int kKeyLength = kNameLength + 1;  // MatchingKey: name field and its NUL

// Size fields that stand for no size: a real size is never negative.
// The in-use mark: a file that was in use while its size changed; the next
// scan treats it as changed in size, whatever its size, date and time are
// by then, until a probe finds it free. The emptied mark: a file that was
// cut to zero; the next scan meets it as added if it is still there, and
// reports its deletion if it is not, since its earlier state was reported.
constexpr const char kInUseSizeMark[] = "-00000000001";
constexpr const char kEmptiedSizeMark[] = "-00000000002";

// The high value: the end of a snapshot file reads as a key of a whole
// name field of these bytes and a NUL, above every real key.
constexpr unsigned char kHighValue = 0xFF;

// Copies the name in the first fieldLength - 1 bytes of `field` without its
// trailing blanks to `destination` (zero-filled by the caller; no NUL is
// written). A field that starts with a blank copies nothing.
void CopyTrimmedName(char* destination, const unsigned char* field, int fieldLength);

}  // namespace wendrake

#endif  // WENDRAKE_RECORD_SNAPSHOT_RECORD_H_
