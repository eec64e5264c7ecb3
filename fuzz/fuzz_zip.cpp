// libFuzzer target for the ZIP reader of Restore: the input is an archive
// (one volume). Its comment is read, then every entry is extracted into a
// scratch folder; requests for other disks are answered Cancel.
#include <cstdint>
#include <fstream>
#include <string>

#include "DZip.h"
#include "FuzzDir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchCleanup cleanup;
  const std::string dir = fuzz::FreshScratchDir();
  const std::string archive = dir + "/ARCHIVE.ZIP";
  {
    std::ofstream out(archive, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  UNZIPCMDSTRUCT cmd;
  cmd.lpszZipFile = archive;
  cmd.lpszDrivesFile = dir + "/no-drives.ini";
  cmd.callbacks.lpMessageDisplay = [](int, int, long long, long long, const std::string&,
                                      const std::string&, int& reply) { reply = kReplyCancel; };
  cmd.function = kUnzipActionComment;
  (void)dunzip(cmd);
  cmd.function = kUnzipActionExtract;
  cmd.lpszDestination = dir + "/out";
  std::filesystem::create_directory(cmd.lpszDestination);
  cmd.overWriteFlag = true;
  cmd.recurseFlag = true;
  (void)dunzip(cmd);
  return 0;
}
