// The INI reader and writer under the language file's rules, and the bad
// files a translator can produce: none of them may crash or lose text.
#include "cpZelIniFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  QString Write(const QByteArray& bytes, const QString& name = "test.ini") {
    const QString path = dir_.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    return path;
  }
  static QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  static QStringList Keys(TZelIniFile& ini, const QString& section) {
    QStringList keys;
    ini.ReadSection(section, keys);
    return keys;
  }
  QTemporaryDir dir_;
};

TEST_F(IniFileTest, KeysInFileOrderNamesWithoutCaseValuesTrimmedAfterFirstEquals) {
  TZelIniFile ini(
      Write("; comment\n"
            "stray=before any section\n"
            "[Notifications]\n"
            "  Zeta = last letter  \n"
            "Alpha=a=b=c\n"
            "\tMiddle\t=\t tabs \t\n"
            "Empty=\n"
            "[ Other ]\r\n"
            "Key=other\r\n"));
  EXPECT_EQ(Keys(ini, "notifications"), QStringList({"Zeta", "Alpha", "Middle", "Empty"}));
  EXPECT_EQ(ini.ReadString("NOTIFICATIONS", "zeta", "-"), "last letter");
  EXPECT_EQ(ini.ReadString("Notifications", "ALPHA", "-"), "a=b=c");
  EXPECT_EQ(ini.ReadString("Notifications", "Middle", "-"), "tabs");
  EXPECT_EQ(ini.ReadString("Notifications", "Empty", "-"), "");
  EXPECT_EQ(ini.ReadString("Notifications", "Missing", "-"), "-");
  EXPECT_EQ(ini.ReadString("other", "key", "-"), "other");
  EXPECT_TRUE(Keys(ini, "Absent").isEmpty());
  EXPECT_TRUE(Keys(ini, "").isEmpty());
}

TEST_F(IniFileTest, DuplicatesAndLinesWithoutEqualsSign) {
  TZelIniFile ini(
      Write("[S]\n"
            "Key=first\n"
            "just some words\n"
            "=no key\n"
            "KEY=second\n"
            "[s]\n"
            "Later=from the repeated section\n"));
  EXPECT_EQ(Keys(ini, "S"), QStringList({"Key", "Later"}));
  EXPECT_EQ(ini.ReadString("S", "Key", "-"), "first");
  EXPECT_EQ(ini.ReadString("S", "Later", "-"), "from the repeated section");
}

TEST_F(IniFileTest, LargeFilesLoadInLinearTime) {
  // Every key of a big section read one by one, as a section load does; a
  // quadratic lookup would take minutes here.
  QByteArray bytes;
  for (int s = 0; s < 5000; ++s) bytes += "[Other" + QByteArray::number(s) + "]\nk=v\n";
  bytes += "[Big]\n";
  for (int k = 0; k < 50000; ++k) bytes += "Key" + QByteArray::number(k) + "=v\n";
  TZelIniFile ini(Write(bytes));
  QElapsedTimer timer;
  timer.start();
  const QStringList keys = Keys(ini, "big");
  ASSERT_EQ(keys.size(), 50000);
  for (const QString& key : keys) ini.ReadString("Big", key, "");
  EXPECT_LT(timer.elapsed(), 20000);
}

TEST_F(IniFileTest, LongValuesAreCutAt1023Characters) {
  const QByteArray long_value(5000, 'x');
  TZelIniFile ini(Write("[S]\nLong=" + long_value + "\nAfter=still read\n"));
  EXPECT_EQ(ini.ReadString("S", "Long", "").size(), TZelIniFile::kMaxValueLength);
  EXPECT_EQ(ini.ReadString("S", "After", ""), "still read");
  // A character outside the basic plane at the cut is dropped, not split.
  const QByteArray emoji = QString(QChar(0xD83D)).append(QChar(0xDE00)).toUtf8();
  TZelIniFile split(Write("[S]\nK=" + QByteArray(1022, 'y') + emoji + "\n", "split.ini"));
  const QString value = split.ReadString("S", "K", "");
  EXPECT_EQ(value.size(), 1022);
  EXPECT_FALSE(value.back().isHighSurrogate());
}

TEST_F(IniFileTest, EncodingsOtherThanPlainUtf8KeepTheirText) {
  TZelIniFile bom(
      Write("\xEF\xBB\xBF[S]\nK=Gr\xC3\xBC\xC3\x9F"
            "e\n",
            "bom.ini"));
  EXPECT_EQ(bom.ReadString("S", "K", ""), QString::fromUtf8("Grüße"));
  // Not UTF-8 at all (an old editor's Latin-1): read as Latin-1.
  TZelIniFile latin(
      Write("[S]\nK=Gr\xFC\xDF"
            "e\n",
            "latin.ini"));
  EXPECT_EQ(latin.ReadString("S", "K", ""), QString::fromUtf8("Grüße"));
  QByteArray utf16("\xFF\xFE");
  const QString text = "[S]\r\nK=Grüße\r\n";
  utf16.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
  TZelIniFile wide(Write(utf16, "wide.ini"));
  EXPECT_EQ(wide.ReadString("S", "K", ""), QString::fromUtf8("Grüße"));
}

TEST_F(IniFileTest, MissingOrUnreadableFilesReadAsEmpty) {
  TZelIniFile missing(dir_.filePath("none.ini"));
  EXPECT_FALSE(missing.Load());
  EXPECT_TRUE(Keys(missing, "S").isEmpty());
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.ini"));
  TZelIniFile folder(dir_.filePath("folder.ini"));
  EXPECT_FALSE(folder.Load());
  EXPECT_EQ(folder.ReadString("S", "K", "-"), "-");
  TZelIniFile binary(Write(QByteArray("\0\0\0[S]\0K=v\n", 12), "binary.ini"));
  EXPECT_TRUE(binary.Load());  // garbage is read as text, never a crash
}

TEST_F(IniFileTest, ReadsTheFileAgainAfterUpdateFile) {
  const QString path = Write("[S]\nK=old\n");
  TZelIniFile ini(path);
  EXPECT_EQ(ini.ReadString("S", "K", ""), "old");
  Write("[S]\nK=new\nAdded=1\n");
  ini.UpdateFile();
  EXPECT_EQ(ini.ReadString("S", "K", ""), "new");
  EXPECT_EQ(Keys(ini, "S"), QStringList({"K", "Added"}));
}

TEST_F(IniFileTest, WriteReplacesAddsAndKeepsTheRest) {
  const QString path = Write("; kept\n[A]\nOne=1\nTwo=2\n\n[B]\nThree=3\n");
  TZelIniFile ini(path);
  ini.WriteString("a", "TWO", "zwei");
  ini.WriteString("A", "Four", "line\nbreak");
  ini.WriteString("C", "Five", "5");
  EXPECT_EQ(Read(path),
            "; kept\n[A]\nOne=1\nTWO=zwei\nFour=line break\n\n[B]\nThree=3\n\n[C]\nFive=5\n");
  EXPECT_EQ(ini.ReadString("A", "two", ""), "zwei");

  TZelIniFile fresh(dir_.filePath("fresh.ini"));
  fresh.WriteString("S", "K", "v");
  EXPECT_EQ(Read(dir_.filePath("fresh.ini")), "[S]\nK=v\n");
}

TEST_F(IniFileTest, RefusedWritesRaiseAndChangeNothing) {
  TZelIniFile no_folder(dir_.filePath("missing/sub/x.ini"));
  try {
    no_folder.WriteString("S", "K", "v");
    FAIL() << "write into a missing folder was accepted";
  } catch (const EIniFileError& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + dir_.filePath("missing/sub/x.ini"));
  }
  ASSERT_TRUE(QDir(dir_.path()).mkdir("dir.ini"));
  EXPECT_THROW(TZelIniFile(dir_.filePath("dir.ini")).WriteString("S", "K", "v"), EIniFileError);
}

TEST_F(IniFileTest, TheProgramFileIsNeverWritten) {
  const QString program = QFileInfo("/proc/self/exe").canonicalFilePath();
  const QByteArray before = Read(program);
  ASSERT_FALSE(before.isEmpty());
  EXPECT_THROW(TZelIniFile(program).WriteString("S", "K", "v"), EIniFileError);
  // Nor through a link to it.
  const QString link = dir_.filePath("Vdx32.ini");
  ASSERT_TRUE(QFile::link(program, link));
  EXPECT_THROW(TZelIniFile(link).WriteString("S", "K", "v"), EIniFileError);
  EXPECT_EQ(Read(program), before);
}

}  // namespace
