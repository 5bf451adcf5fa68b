// The toolkit is an external interface: other programs load the shared
// library and find the operations by their plain names.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

#include <set>
#include <string>

namespace {

const char* const kTextNames[] = {
    "pAdd",      "pSubtract", "pMultiply", "pDivide",    "pMask",       "pRange",      "pSetDW",    "pSetW2DW",
    "pGetW",     "pChr",      "pAsc",      "pHexVal",    "pHex",        "pStr",        "pStrVal",   "pClrMem",
    "pCopyMem",  "pFillMem",  "pMemory",   "pCmp",       "pLen",        "pMid",        "pLeft",     "pRight",
    "pInstrL2R", "pInstrR2L", "pXStr",     "pIsChrValid", "pIsStrEqual", "pIsStrNull", "pBuildStr", "pBuildPath",
    "pChar2OEM", "pPentium",  "LowerCaseInPlace",
};
const char* const kFileNames[] = {
    "pFileIO", "pFileSize", "pFileFind", "pFileDel",   "pFileCopy", "pFileRen", "pDir",
    "pDrive",  "pDriveType", "pShell",   "pTiming",    "pTime",     "pDate",
};
// Implemented with the dialog manager's loop and choosers.
const char* const kEventNames[] = {"pFileName", "pDirName", "pDoEvent", "pMessage", "pTimer"};

class Library {
 public:
  Library() : handle_(dlopen(VL_TOOLKIT_SO, RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (handle_) dlclose(handle_);
  }
  void* handle() const { return handle_; }
  template <typename F>
  F get(const char* name) const {
    return reinterpret_cast<F>(dlsym(handle_, name));
  }

 private:
  void* handle_;
};

TEST(ToolkitExports, OperationsWorkWhenLoadedByName) {
  Library lib;
  ASSERT_NE(lib.handle(), nullptr) << dlerror();
  auto divide = lib.get<int32_t (*)(int32_t, int32_t)>("pDivide");
  auto str = lib.get<char* (*)(int32_t)>("pStr");
  auto xstr = lib.get<char* (*)(int32_t, const char*, char*, const char*, int32_t)>("pXStr");
  auto fileSize = lib.get<int32_t (*)(const char*)>("pFileSize");
  auto lower = lib.get<char* (*)(char*)>("LowerCaseInPlace");
  ASSERT_TRUE(divide && str && xstr && fileSize && lower);
  EXPECT_EQ(divide(3577, 3576), 2);
  EXPECT_STREQ(str(-42), "-42");
  char machine[16] = {};
  EXPECT_EQ(xstr(1, "user@2001", machine, "@", 0), machine);
  EXPECT_STREQ(machine, "2001");
  EXPECT_EQ(fileSize("C:\\no\\such\\file"), -1);
  char id[] = "ABC";
  EXPECT_STREQ(lower(id), "abc");
}

TEST(ToolkitExports, EveryOperationIsInTheDynamicSymbolTable) {
  if (system("command -v nm >/dev/null 2>&1") != 0) GTEST_SKIP() << "nm is not installed";
  std::string command = std::string("nm -D --defined-only '") + VL_TOOLKIT_SO + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> exported;
  char line[512];
  while (fgets(line, sizeof line, pipe)) {
    char address[64], kind[8], name[400];
    if (sscanf(line, "%63s %7s %399s", address, kind, name) == 3 && strcmp(kind, "T") == 0) exported.insert(name);
  }
  ASSERT_EQ(WEXITSTATUS(pclose(pipe)), 0);
  for (const char* name : kTextNames) EXPECT_TRUE(exported.count(name)) << name;
  for (const char* name : kFileNames) EXPECT_TRUE(exported.count(name)) << name;
#ifdef VL_TOOLKIT_HAS_EVENTS
  for (const char* name : kEventNames) EXPECT_TRUE(exported.count(name)) << name;
#else
  (void)kEventNames;
#endif
  // Hidden visibility keeps the helpers inside.
  for (const std::string& name : exported) EXPECT_EQ(name.find("hostpath"), std::string::npos) << name;
}

}  // namespace
