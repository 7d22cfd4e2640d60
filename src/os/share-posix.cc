// Which folders lie on shared file systems, on Linux: told by the file
// system's magic number. inotify only sees what passes through this
// machine's own kernel, so a network file system written by another
// machine, or a FUSE file system whose daemon changes files by itself
// (sshfs, rclone, s3fs, bindfs over a folder others write), raises nothing.
#include <sys/vfs.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "os/internal-posix.h"
#include "os/os.h"

namespace wendrake {
namespace os {

namespace {

// The kernel's magic numbers (f_type) of the network, cluster and
// user-space file systems.
constexpr std::uint32_t kNfsMagic = 0x6969;
constexpr std::uint32_t kCifsMagic = 0xFF534D42;
constexpr std::uint32_t kSmbMagic = 0x517B;
constexpr std::uint32_t kSmb2Magic = 0xFE534D42;
constexpr std::uint32_t kFuseMagic = 0x65735546;
constexpr std::uint32_t kV9fsMagic = 0x01021997;  // 9P
constexpr std::uint32_t kCephMagic = 0x00C36400;
constexpr std::uint32_t kAfsMagic = 0x5346414F;   // OpenAFS
constexpr std::uint32_t kKafsMagic = 0x6B414653;  // the kernel's own AFS client
constexpr std::uint32_t kCodaMagic = 0x73757245;
constexpr std::uint32_t kGfs2Magic = 0x01161970;
constexpr std::uint32_t kOcfs2Magic = 0x7461636F;
constexpr std::uint32_t kLustreMagic = 0x0BD00BD0;

constexpr std::uint32_t kPolledTypes[] = {
    kNfsMagic, kCifsMagic, kSmbMagic,  kSmb2Magic, kFuseMagic,  kV9fsMagic,   kCephMagic,
    kAfsMagic, kKafsMagic, kCodaMagic, kGfs2Magic, kOcfs2Magic, kLustreMagic,
};

}  // namespace

bool PolledFileSystemType(std::uint32_t type) {
  return std::find(std::begin(kPolledTypes), std::end(kPolledTypes), type) !=
         std::end(kPolledTypes);
}

bool FolderNeedsPolling(const char* folder) {
  struct statfs info;
  if (statfs(folder, &info) != 0) return false;
  // f_type is a signed word: a magic number with its top bit set (CIFS)
  // comes out negative, so only its low 32 bits are compared.
  return PolledFileSystemType(static_cast<std::uint32_t>(info.f_type));
}

}  // namespace os
}  // namespace wendrake
