// One whole scan of entry 1: an old snapshot of any bytes (short last
// record, unsorted records, 0xFF in names) against a small real folder whose
// file names come from the input. The merged snapshot that becomes the next
// old one must hold whole records ending in CR LF, and stay sorted when the
// old one was.
//
// Input: byte 0 picks the action flags, byte 1 the number of files (0-4);
// then per file a name length, that many name bytes and a size byte; the
// rest is the old snapshot.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_util.h"
#include "log/log.h"
#include "watch/snapshot.h"
#include "watch/watcher.h"

namespace {

using namespace wendrake;

// Whole records, each key above the one before (or not below it).
bool SortedWholeRecords(const std::string& bytes, bool strictly) {
  if (bytes.size() % kRecordLength != 0) return false;
  const auto* records = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t at = kRecordLength; at < bytes.size(); at += kRecordLength) {
    int order = CompareKeys(records + at - kRecordLength, records + at);
    if (order > 0 || (strictly && order == 0)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  fuzz::StartInput();
  // Started programs are never waited for; the kernel reaps them, as it
  // does under the program itself.
  std::signal(SIGCHLD, SIG_IGN);
  // Held for the run as start-up holds it; the scan opens its own handle.
  fuzz::Check(os::LockCreate("KSFF01") != os::kInvalidHandle, "cannot create the lock");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& start = fuzz::StartInput();
  const std::string folder = start + "/in";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directory(folder);
  std::remove("KSFF01N.txt");
  std::remove("KSFF01T.txt");

  auto byte = [&]() -> std::uint8_t { return size == 0 ? 0 : (--size, *data++); };
  // Most runs start no program: a scan that starts one per record is slow.
  static const char* const kActions[] = {"AUDT", "DT", "T", "T", "T", "T", "T", "T"};
  // Letters, digits and a few marks: always a valid name on both systems.
  static const char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
  const char* action = kActions[byte() % (sizeof kActions / sizeof *kActions)];
  for (int files = byte() % 5; files > 0; --files) {
    std::string name(1 + byte() % 24, 'f');
    for (char& c : name) c = kAlphabet[byte() % (sizeof kAlphabet - 1)];
    if (name == "." || name == "..") name = "f";
    std::ofstream(folder + "/" + name) << std::string(byte(), 'x');
  }
  // The old snapshot is kept to a few dozen records for the same reason.
  const std::string old(reinterpret_cast<const char*>(data),
                        std::min<std::size_t>(size, 40 * kRecordLength));
  std::ofstream("KSFF01O.txt", std::ios::binary) << old;

  AddTableEntry(action, folder.c_str(), "/bin/true", start.c_str(), "");
  ScanFolder(EntryAt(1));

  std::ifstream in("KSFF01O.txt", std::ios::binary);
  const std::string merged{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  fuzz::Check(merged.size() % kRecordLength == 0, "the next old snapshot holds a part record");
  for (std::size_t at = 0; at < merged.size(); at += kRecordLength) {
    fuzz::Check(merged[at + kCrOffset] == '\r' && merged[at + kLfOffset] == '\n',
                "a record of the next old snapshot does not end in CR LF");
  }
  fuzz::Check(!SortedWholeRecords(old, true) || SortedWholeRecords(merged, false),
              "the next old snapshot is out of order");
  // Whatever the old snapshot held, a deletion is reported only for a file
  // that has a name and is not in the folder: never for the folder itself.
  // Read from the deletion's own line, at the mark right after its flags:
  // a name may hold the mark itself, and the trace lines show names too. A
  // line the log cut short names only the start of its file.
  std::ifstream logFile(kLogFileName, std::ios::binary);
  const std::string log{std::istreambuf_iterator<char>(logFile), std::istreambuf_iterator<char>()};
  const std::string head = "(01)...      -s- Action(", deleted = "):Delete  (";
  for (std::size_t line = 0, end; (end = log.find("\r\n", line)) != std::string::npos;
       line = end + 2) {
    const std::string text = log.substr(line, end - line);
    if (text.size() < kLogStampLength || text.compare(kLogStampLength, head.size(), head) != 0) {
      continue;
    }
    std::size_t at = text.find(')', kLogStampLength + head.size());
    if (at == std::string::npos || text.compare(at, deleted.size(), deleted) != 0) continue;
    const std::string rest = text.substr(at + deleted.size());
    // A name may begin with ')' too: only a whole line can show none.
    fuzz::Check(!rest.empty() && rest != ")", "a deletion was reported for no name");
    std::error_code error;
    fuzz::Check(rest.back() != ')' ||
                    !std::filesystem::exists(folder + "/" + rest.substr(0, rest.size() - 1), error),
                "a deletion was reported for a file that is there");
  }
  return 0;
}
