// One whole scan of entry 1: an old snapshot of any bytes (short last
// record, unsorted records, 0xFF in names) against a small real folder whose
// file names come from the input. The merged snapshot that becomes the next
// old one must hold whole records, and stay sorted when the old one was.
//
// Input: byte 0 picks the action flags, byte 1 the number of files (0-4);
// then per file a name length, that many name bytes and a size byte; the
// rest is the old snapshot.
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "config/thread_control.h"
#include "fuzz_util.h"
#include "log/log.h"
#include "watch/snapshot.h"
#include "watch/watcher.h"

namespace {

namespace fs = std::filesystem;
using wendrake::fuzz::Check;

// Most runs start no program: a scan that starts one per record is slow.
const char* const kActions[] = {"AUDT", "DT", "T", "T", "T", "T", "T", "T"};
constexpr int kMaxFiles = 4;
constexpr std::size_t kMaxNameLength = 24;
// The old snapshot is kept to a few dozen records for the same reason.
constexpr std::size_t kMaxOldBytes = 40 * wendrake::kRecordLength;

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
};

// Letters, digits and a few marks: always a valid name on both systems.
std::string SanitisedName(Input& in) {
  static const char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
  std::size_t length = 1 + in.Byte() % kMaxNameLength;
  std::string name;
  for (std::size_t i = 0; i < length && in.size > 0; ++i) {
    name += kAlphabet[in.Byte() % (sizeof kAlphabet - 1)];
  }
  if (name.empty() || name == "." || name == "..") name = "f";
  return name;
}

bool SortedWholeRecords(const std::string& bytes, bool strictly) {
  if (bytes.size() % wendrake::kRecordLength != 0) return false;
  for (std::size_t at = wendrake::kRecordLength; at < bytes.size(); at += wendrake::kRecordLength) {
    int order = wendrake::CompareKeys(
        reinterpret_cast<const unsigned char*>(bytes.data() + at - wendrake::kRecordLength),
        reinterpret_cast<const unsigned char*>(bytes.data() + at));
    if (order > 0 || (strictly && order == 0)) return false;
  }
  return true;
}

void Setup() {
  using namespace wendrake;
  // Started programs are never waited for; the kernel reaps them, as it
  // does under the program itself.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, nullptr);
  fs::create_directory("in");
  // Held for the run as start-up holds it; the scan opens its own handle.
  Check(os::LockCreate("KSFF01") != os::kInvalidHandle, "cannot create the lock");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace wendrake;
  const std::string& start = fuzz::EnterScratchDirectory();
  static bool ready = false;
  if (!ready) {
    Setup();
    ready = true;
  }
  const std::string folder = start + "/in";
  for (const fs::directory_entry& e : fs::directory_iterator(folder)) fs::remove(e.path());
  std::remove("KSFF01N.txt");
  std::remove("KSFF01T.txt");

  Input in{data, size};
  const char* action = kActions[in.Byte() % (sizeof kActions / sizeof kActions[0])];
  int files = in.Byte() % (kMaxFiles + 1);
  for (int i = 0; i < files; ++i) {
    std::string name = SanitisedName(in);
    std::string contents(in.Byte(), 'x');
    fuzz::WriteWholeFile(folder + "/" + name,
                         reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size());
  }
  std::size_t oldSize = in.size < kMaxOldBytes ? in.size : kMaxOldBytes;
  fuzz::WriteWholeFile("KSFF01O.txt", in.data, oldSize);
  const bool oldSorted =
      SortedWholeRecords(std::string(reinterpret_cast<const char*>(in.data), oldSize), true);

  ResetLogForTesting();
  std::remove(kLogFileName);
  entryCount = 0;
  ClearThreadControlTable();
  AddTableEntry(action, folder.c_str(), "/bin/true", start.c_str(), "");
  ScanFolder(EntryAt(1));

  std::string merged = fuzz::ReadWholeFile("KSFF01O.txt");
  Check(merged.size() % kRecordLength == 0, "the next old snapshot holds a part record");
  for (std::size_t at = 0; at < merged.size(); at += kRecordLength) {
    Check(merged[at + kCrOffset] == '\r' && merged[at + kLfOffset] == '\n',
          "a record of the next old snapshot does not end in CR LF");
  }
  if (oldSorted) Check(SortedWholeRecords(merged, false), "the next old snapshot is out of order");
  ResetLogForTesting();
  std::remove(kLogFileName);
  return 0;
}
