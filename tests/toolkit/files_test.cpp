// Files, folders, drives, processes and time with classic semantics on the
// host. Every test works in a fresh temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "toolkit/files.h"
#include "toolkit/hostpath.h"
#include "winapi/loop.h"

namespace {

std::string classic(const std::string& host) {
  std::string s = "C:";
  for (char c : host) s += c == '/' ? '\\' : c;
  return s;
}

class FilesTest : public ::testing::Test {
 protected:
  std::string dir;      // host form
  std::string cdir;     // classic form
  std::string oldCwd;

  void SetUp() override {
    tkResetFileState();
    char tmpl[] = "/tmp/vl-files-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    cdir = classic(dir);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd = cwd;
  }
  void TearDown() override {
    ASSERT_EQ(chdir(oldCwd.c_str()), 0);
    std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }

  std::string host(const std::string& name) const { return dir + "/" + name; }
  std::string path(const std::string& name) const { return cdir + "\\" + name; }
  void make(const std::string& name, const std::string& content, mode_t mode = 0644) const {
    std::ofstream(host(name), std::ios::binary) << content;
    chmod(host(name).c_str(), mode);
  }
  std::string content(const std::string& name) const {
    std::ifstream in(host(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool exists(const std::string& name) const { return access(host(name).c_str(), F_OK) == 0; }
  std::vector<std::string> findAll(const std::string& pattern) const {
    std::vector<std::string> names;
    char found[260];
    for (int first = 1; pFileFind(pattern.c_str(), found, first) == 1; first = 0) names.push_back(found);
    return names;
  }
};

TEST_F(FilesTest, ReadingReturnsWhatIsThere) {
  make("f300", std::string(300, 'r'));
  struct {
    const char* name;
    int32_t offset, count, result;
  } rows[] = {
      {"f300", 1, 512, 300}, {"f300", 0, 10, 10}, {"f300", 291, 512, 10}, {"f300", 300, 4, 1},
      {"f300", 301, 4, 0},   {"f300", -5, 4, 0},  {"missing", 1, 4, 0},   {"f300", 1, 0, 0},
  };
  for (auto& r : rows) {
    char buffer[600];
    memset(buffer, '#', sizeof buffer);
    int32_t got = pFileIO(-1, path(r.name).c_str(), r.offset, buffer, r.count);
    EXPECT_EQ(got, r.result) << r.name << " at " << r.offset;
    EXPECT_EQ(buffer[got], '#') << "bytes beyond the read were touched";
  }
  EXPECT_FALSE(exists("missing")) << "reading must not create the file";
  char buffer[4];
  EXPECT_EQ(pFileIO(2, path("f300").c_str(), 1, buffer, 4), 0);
}

TEST_F(FilesTest, WritingPlacesBytesAndNeverTruncates) {
  make("ten", "0123456789");
  EXPECT_EQ(pFileIO(1, path("ten").c_str(), 3, (void*)"abcd", 4), 4);
  EXPECT_EQ(content("ten"), "01abcd6789");
  EXPECT_EQ(pFileIO(1, path("ten").c_str(), 0, (void*)"Z", 1), 1);  // offset 0 acts as 1
  EXPECT_EQ(content("ten"), "Z1abcd6789");
  EXPECT_EQ(pFileIO(1, path("ten").c_str(), 10, (void*)"END", 3), 3);
  EXPECT_EQ(content("ten"), "Z1abcd678END");
  EXPECT_EQ(pFileIO(1, path("new").c_str(), 1, (void*)"made", 4), 4);
  EXPECT_EQ(content("new"), "made");
  EXPECT_EQ(pFileIO(1, path("gap").c_str(), 4, (void*)"x", 1), 1);
  EXPECT_EQ(content("gap"), std::string("\0\0\0x", 4));
}

TEST_F(FilesTest, WritingRefusesWhatCannotBeWritten) {
  make("readonly", "keep", 0444);
  mkdir(host("folder").c_str(), 0755);
  struct {
    std::string path;
  } rows[] = {{path("readonly")}, {path("folder")}, {"D:\\anything"}, {path("nofolder\\x")}};
  for (auto& r : rows) EXPECT_EQ(pFileIO(1, r.path.c_str(), 1, (void*)"new!", 4), 0) << r.path;
  EXPECT_EQ(content("readonly"), "keep");
  EXPECT_EQ(pFileIO(-1, path("folder").c_str(), 1, (void*)"", 0), 0);
}

TEST_F(FilesTest, SharingFollowsTheClassicModes) {
  make("shared", "0123456789");
  struct {
    int lock;
    int32_t read, written, size;
  } rows[] = {{LOCK_EX, 0, 0, -1}, {LOCK_SH, 4, 0, -1}, {LOCK_UN, 4, 4, 10}};
  for (auto& r : rows) {
    int other = open(host("shared").c_str(), O_RDONLY);  // another user of the file
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, r.lock), 0);
    char buffer[4];
    EXPECT_EQ(pFileIO(-1, path("shared").c_str(), 1, buffer, 4), r.read) << r.lock;
    EXPECT_EQ(pFileIO(1, path("shared").c_str(), 1, (void*)"abcd", 4), r.written) << r.lock;
    EXPECT_EQ(pFileSize(path("shared").c_str()), r.size) << r.lock;
    close(other);
  }
}

TEST_F(FilesTest, SizeIsMinusOneForWhatCannotBeOpened) {
  make("empty", "");
  make("some", std::string(300, 's'));
  make("readonly", "abc", 0444);
  mkdir(host("folder").c_str(), 0755);
  ASSERT_EQ(mkfifo(host("pipe").c_str(), 0644), 0);
  struct {
    const char* name;
    int32_t size;
  } rows[] = {{"empty", 0}, {"some", 300}, {"readonly", -1}, {"missing", -1}, {"folder", -1}, {"pipe", -1}};
  for (auto& r : rows) EXPECT_EQ(pFileSize(path(r.name).c_str()), r.size) << r.name;
  EXPECT_FALSE(exists("missing"));
  EXPECT_EQ(pFileSize(nullptr), -1);
}

TEST_F(FilesTest, SearchListsDotsFirstThenNames) {
  mkdir(host("sub").c_str(), 0755);
  make("sub/only.txt", "x");
  char found[260];
  EXPECT_EQ(pFileFind(nullptr, found, 0), 0) << "no search open yet";
  EXPECT_EQ(findAll(path("sub\\*.*")), (std::vector<std::string>{".", "..", "only.txt"}));
  EXPECT_EQ(pFileFind(nullptr, found, 0), 0) << "a finished search stays finished";
  EXPECT_EQ(pFileFind(path("sub\\*").c_str(), found, 7), 0);
}

TEST_F(FilesTest, SearchPatterns) {
  for (const char* name : {"a[=]", "b[@]", "c[=]x", "[=]", "Mixed.TXT", "plain", "ab", "abc"}) make(name, "");
  mkdir(host("folder").c_str(), 0755);
  struct {
    std::string pattern;
    std::vector<std::string> names;
  } rows[] = {
      {path("*[=]"), {"[=]", "a[=]"}},
      {path("*[@]"), {"b[@]"}},
      {path("*.txt"), {"Mixed.TXT"}},
      {path("MIXED.txt"), {"Mixed.TXT"}},
      {path("a?"), {"ab"}},
      {path("a*"), {"a[=]", "ab", "abc"}},
      {path("plain.*"), {"plain"}},
      {path("folder"), {"folder"}},
      {path("nothing*"), {}},
      {path("missing\\*"), {}},
      {cdir + "\\", {}},
      {"D:\\*", {}},
  };
  for (auto& r : rows) EXPECT_EQ(findAll(r.pattern), r.names) << r.pattern;
}

TEST_F(FilesTest, SearchFillsTheWholeNameField) {
  make("x", "");
  char found[260];
  memset(found, '#', sizeof found);
  ASSERT_EQ(pFileFind(path("x").c_str(), found, 1), 1);
  EXPECT_STREQ(found, "x");
  for (int i = 1; i < 260; ++i) ASSERT_EQ(found[i], 0) << i;
}

TEST_F(FilesTest, SearchRelativeToCurrentFolderAndRootHasNoDots) {
  make("here.dat", "");
  ASSERT_EQ(chdir(dir.c_str()), 0);
  EXPECT_EQ(findAll("*.dat"), (std::vector<std::string>{"here.dat"}));
  std::vector<std::string> root = findAll("C:\\*");
  ASSERT_FALSE(root.empty());
  EXPECT_NE(root[0], ".");
}

TEST_F(FilesTest, DeleteCopyAndRename) {
  make("a", "alpha");
  make("b.txt", "beta");
  EXPECT_EQ(pFileDel(path("missing").c_str()), 0);
  EXPECT_EQ(pFileRen(path("a").c_str(), path("b.txt").c_str()), 0);
  EXPECT_EQ(pFileRen(path("a").c_str(), path("B.TXT").c_str()), 0) << "names compare without case";
  EXPECT_EQ(content("a"), "alpha");
  EXPECT_EQ(content("b.txt"), "beta");
  EXPECT_EQ(pFileRen(path("a").c_str(), path("c").c_str()), 1);
  EXPECT_FALSE(exists("a"));
  EXPECT_EQ(content("c"), "alpha");
  EXPECT_EQ(pFileCopy(path("c").c_str(), path("b.txt").c_str()), 1);
  EXPECT_EQ(content("b.txt"), "alpha");
  make("long", "a much longer text");
  EXPECT_EQ(pFileCopy(path("c").c_str(), path("long").c_str()), 1);
  EXPECT_EQ(content("long"), "alpha") << "the target is replaced, not overwritten in part";
  EXPECT_EQ(pFileCopy(path("missing").c_str(), path("d").c_str()), 1);
  EXPECT_FALSE(exists("d"));
  EXPECT_EQ(pFileDel(path("c").c_str()), 1);
  EXPECT_FALSE(exists("c"));
}

TEST_F(FilesTest, FolderCommands) {
  char command[8];
  char target[256];
  struct {
    const char* command;
    std::string path;
    int32_t result;
    bool existsAfter;
  } rows[] = {
      {"MAK", path("made"), 1, true},  {"mak", path("made"), 0, true},  {"Chg", path("nothere"), 0, true},
      {"rem", path("made"), 1, false}, {"rem", path("made"), 0, false}, {"zap", path("made"), 0, false},
  };
  for (auto& r : rows) {
    strcpy(command, r.command);
    strcpy(target, r.path.c_str());
    EXPECT_EQ(pDir(command, target, 0), r.result) << r.command;
    std::string lower(r.command);
    for (char& c : lower) c = static_cast<char>(tolower(c));
    EXPECT_STREQ(command, lower.c_str());
    EXPECT_EQ(exists("made"), r.existsAfter) << r.command;
  }
  strcpy(command, "mak");
  strcpy(target, path("made").c_str());
  pDir(command, target, 0);
  strcpy(command, "chg");
  EXPECT_EQ(pDir(command, target, 0), 1);
  strcpy(command, "dir");
  char folder[256];
  memset(folder, '#', sizeof folder);
  EXPECT_EQ(pDir(command, folder, 255), 1);
  EXPECT_EQ(std::string(folder), classic(dir + "/made"));
  char small[4];
  memset(small, '#', sizeof small);
  EXPECT_EQ(pDir(command, small, 4), 1);
  EXPECT_EQ(std::string(small, 4), std::string(4, '\0')) << "a folder that does not fit is not cut";
  strcpy(command, "SYS");
  EXPECT_EQ(pDir(command, folder, 255), 1);
  EXPECT_EQ(std::string(folder, 3), "C:\\");
}

TEST_F(FilesTest, DrivesAreCOnly) {
  char root[8];
  memset(root, '#', sizeof root);
  EXPECT_EQ(pDrive(root, 8), 1);
  EXPECT_EQ(std::string(root, 8), std::string("C:\\\0\0\0\0\0", 8));
  char ask[] = "DRV?";
  EXPECT_EQ(pDriveType(ask, "c"), 3);
  EXPECT_STREQ(ask, "drv?");
  EXPECT_EQ(pDriveType(ask, "C:\\Windows"), 3);
  EXPECT_EQ(pDriveType(ask, "d"), 1);
  EXPECT_EQ(pDriveType(ask, ""), 1);
  char other[] = "drive";
  EXPECT_EQ(pDriveType(other, "c"), 0);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  char change[] = "drv=";
  EXPECT_EQ(pDriveType(change, "c"), 1);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_STREQ(cwd, "/");
}

TEST_F(FilesTest, ShellWaitsForTheProgram) {
  std::string line = "sh -c \"echo ran > '" + host("out") + "'\"";
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back(0);
  EXPECT_EQ(pShell(nullptr, commandLine.data(), 1), 1);
  EXPECT_EQ(content("out"), "ran\n");
  std::string line2 = "sh -c \"echo again > '" + host("out2") + "'\"";
  std::vector<char> second(line2.begin(), line2.end());
  second.push_back(0);
  EXPECT_EQ(pShell("C:\\bin\\sh", second.data(), 1), 1);
  EXPECT_EQ(content("out2"), "again\n");
  EXPECT_EQ(pShell("C:\\no\\such\\program", nullptr, 1), 1);
  EXPECT_EQ(pShell(nullptr, nullptr, 1), 1);
}

TEST_F(FilesTest, TimeAndDateAppend) {
  struct {
    bool date;
    int32_t type;
    const char* pattern;
  } rows[] = {
      {false, 0, R"(at \d{1,2}:\d{1,2}:\d{1,2}\.\d{1,3})"},
      {false, 1, R"(at \d{1,2}:\d{1,2}:\d{1,2})"},
      {false, 2, R"(at \d{1,2}:\d{1,2})"},
      {false, 3, R"(at )"},
      {true, 0,
       R"(at (Sun|Mon|Tues|Wednes|Thurs|Fri|Satur)day \d{1,2} (January|February|March|April|May|June|July|August|September|October|November|December) \d{4})"},
      {true, 1, R"(at \d{1,2}/\d{1,2}/\d{4})"},
      {true, 2, R"(at )"},
  };
  for (auto& r : rows) {
    char dest[64] = "at ";
    EXPECT_EQ(r.date ? pDate(r.type, dest) : pTime(r.type, dest), 1);
    EXPECT_TRUE(std::regex_match(dest, std::regex(r.pattern))) << dest;
  }
  EXPECT_EQ(pTime(0, nullptr), 1);
  EXPECT_EQ(pDate(0, nullptr), 1);
}

TEST_F(FilesTest, TimingReadsTheOneClock) {
  waSetVirtualClock(1, 123456);
  EXPECT_EQ(pTiming(), 123456);
  waSetVirtualClock(1, 0xFFFFFFF0u);
  EXPECT_EQ(pTiming(), -16);
  waSetVirtualClock(0, 0);
}

}  // namespace
