// Real failures of a pack, each in a folder deep enough that a path cut to
// the engine's fixed-size error buffers would lose its file name: the error
// the table tools raise names the file and the cause, and keeps the engine's
// code for the run layer to sort by.
#include <sys/file.h>
#include <unistd.h>

#include <functional>

#include "DbExceptions.h"
#include "TablesTestSupport.h"
#include "cpTbTool.h"

namespace {

using namespace tbtest;

// A table with memos long enough to live in its blob file, and its reference.
void CreateNotes(const std::string& dir, const std::string& password = "") {
  fs::create_directories(dir + "/METADATA");
  engine::TTable t;
  t.DatabaseName = dir;
  t.TableName = "NOTES.DB";
  t.FieldDefs.Add("Id", engine::FieldType::Long);
  t.FieldDefs.Add("Note", engine::FieldType::Memo, 10);
  t.KeyFields = 1;
  t.Password = password;
  t.CreateTable();
  if (!password.empty()) engine::TSession::Default().AddPassword(password);
  t.Open();
  for (int i = 1; i <= 300; ++i) {
    t.Insert();
    t.FieldByName("Id").SetAsString(std::to_string(i));
    t.FieldByName("Note").SetAsString("note number " + std::to_string(i) + std::string(40, '.'));
    t.Post();
  }
  t.Close();
  Borrow(dir + "/NOTES.DB", dir + "/METADATA/NOTES.DB");
  if (!password.empty()) engine::TSession::Default().RemoveAllPasswords();
}

struct TFailure {
  const char* name;
  std::function<void(const std::string& dir)> prepare;
  const char* file;   // the file the text must name
  const char* cause;  // and a part of the engine's reason
  int category;
};

TEST(EngineFailures, NameTheFileAndTheCause) {
  std::shared_ptr<void> held;
  const TFailure failures[] = {
      {"truncated data file",
       [](const std::string& dir) {
         fs::resize_file(dir + "/NOTES.DB", fs::file_size(dir + "/NOTES.DB") - 1500);
       },
       "NOTES.DB", "past the end of the file", ERRCAT_DATACORRUPT},
      {"missing blob file", [](const std::string& dir) { fs::remove(dir + "/NOTES.MB"); },
       "NOTES.MB", "blob file is missing", ERRCAT_DATACORRUPT},
      {"truncated blob file",
       [](const std::string& dir) { fs::resize_file(dir + "/NOTES.MB", 3000); }, "NOTES.MB",
       "past the end of the blob file", ERRCAT_DATACORRUPT},
      {"read-only data file",
       [](const std::string& dir) {
         fs::permissions(dir + "/NOTES.DB", fs::perms::all, fs::perm_options::remove);
       },
       "NOTES.DB", "read-only", ERRCAT_IO},
      {"read-only folder",
       [](const std::string& dir) {
         fs::permissions(dir, fs::perms::owner_write | fs::perms::group_write |
                                  fs::perms::others_write,
                         fs::perm_options::remove);
       },
       "and-its-table-folder", "read-only", ERRCAT_IO},
      {"table held by another program",
       [&held](const std::string& dir) {
         const int fd = ::open((dir + "/NOTES.DB").c_str(), O_RDWR | O_CLOEXEC);
         ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
         held = std::shared_ptr<void>(nullptr, [fd](void*) { ::close(fd); });
       },
       "NOTES.DB", "", ERRCAT_LOCKCONFLICT},
      {"protected table, wrong password",
       [](const std::string& dir) {
         fs::remove_all(dir);
         CreateNotes(dir, "Geheim7");
         engine::TSession::Default().AddPassword("wrong");
       },
       "NOTES.DB", "", ERRCAT_SECURITY},
  };
  for (const TFailure& f : failures) {
    SCOPED_TRACE(f.name);
    TempDir tmp;
    const std::string dir = tmp /
                            "a-folder-name-long-enough-to-matter-for-the-sales-office/"
                            "a-second-one-of-the-year-two-thousand-and-twenty-six/"
                            "and-its-table-folder";
    CreateNotes(dir);
    f.prepare(dir);
    TZelTableTools tools;
    tools.DatabaseName = dir + "/";
    tools.TableName = "NOTES.DB";
    std::string text;
    int category = -1;
    try {
      tools.Pack(false);
    } catch (const EBdeApi& e) {
      text = e.what();
      category = e.Category();
      EXPECT_EQ(e.EngineStatus().code(), e.ErrorCode());
    } catch (const engine::EDBEngineError& e) {
      // Opening the tables fails in the dataset layer, which passes its
      // own error on.
      text = e.what();
      category = ErrCat(e.ErrorCode());
    }
    held.reset();
    engine::TSession::Default().RemoveAllPasswords();
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_NE(text.find(dir), std::string::npos) << text;
    EXPECT_NE(text.find(f.file), std::string::npos) << text;
    EXPECT_NE(text.find(f.cause), std::string::npos) << text;
    EXPECT_EQ(category, f.category) << text;
  }
}

}  // namespace
