// Velloran.exe exports the toolkit's operations as "_name@bytes", stdcall:
// a program that loads it finds them by those names, gets the specified
// results, and finds its stack as it was after every call (the callee
// removed exactly its arguments).
#include <gtest/gtest.h>
#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct Call {
  uint32_t result;
  int32_t stackMoved;  // bytes the stack pointer moved over the call; 0 when balanced
};

// Pushes the arguments (last first), calls, and measures the stack pointer
// before and after; the stack is put back either way, so a wrong convention
// shows in stackMoved instead of breaking the test program.
Call CallMeasured(FARPROC operation, const std::vector<uint32_t>& arguments) {
  uint32_t count = uint32_t(arguments.size());
  uint32_t result = 0;
  const uint32_t* args = arguments.data();
  asm volatile(
      "movl %%esp, %%edi\n\t"
      "1: testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "pushl -4(%%esi,%%ecx,4)\n\t"
      "decl %%ecx\n\t"
      "jmp 1b\n\t"
      "2: call *%%ebx\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%edi, %%ecx\n\t"
      "movl %%edi, %%esp\n\t"
      : "=a"(result), "+c"(count)
      : "b"(operation), "S"(args)
      : "edx", "edi", "memory", "cc");
  return Call{result, int32_t(count)};
}

uint32_t Arg(const void* p) { return uint32_t(uintptr_t(p)); }
uint32_t Arg(int32_t v) { return uint32_t(v); }

class VelloranExports : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA("Velloran.exe");
    ASSERT_NE(module_, nullptr) << "LoadLibrary(Velloran.exe) failed: " << GetLastError();
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  // Calls the operation by its decorated name; checks that the name is
  // there and that the stack is balanced.
  uint32_t Invoke(const std::string& name, const std::vector<uint32_t>& arguments) {
    std::string decorated = "_" + name + "@" + std::to_string(4 * arguments.size());
    FARPROC operation = GetProcAddress(module_, decorated.c_str());
    EXPECT_NE(operation, nullptr) << decorated << " is not exported";
    if (!operation) return 0xDEADBEEF;
    Call call = CallMeasured(operation, arguments);
    EXPECT_EQ(call.stackMoved, 0) << decorated << " left the stack unbalanced";
    return call.result;
  }
  HMODULE module_ = nullptr;
};

TEST_F(VelloranExports, NumbersTextAndMemoryGiveTheirResults) {
  EXPECT_EQ(int32_t(Invoke("pAdd", {Arg(2), Arg(40)})), 42);
  EXPECT_EQ(int32_t(Invoke("pDivide", {Arg(3577), Arg(3576)})), 2);  // rounds up
  EXPECT_EQ(int32_t(Invoke("pSubtract", {Arg(5), Arg(7)})), -2);
  EXPECT_STREQ(reinterpret_cast<const char*>(Invoke("pStr", {Arg(-42)})), "-42");
  EXPECT_EQ(int32_t(Invoke("pLen", {Arg("Velloran")})), 8);
  EXPECT_EQ(int32_t(Invoke("pInstrL2R", {Arg(1), Arg("user@2001"), Arg("@")})), 5);
  char machine[16] = {};
  EXPECT_EQ(Invoke("pXStr", {Arg(1), Arg("user@2001"), Arg(machine), Arg("@"), Arg(0)}), Arg(machine));
  EXPECT_STREQ(machine, "2001");
  char built[32] = {};
  Invoke("pBuildStr", {Arg("ab"), Arg(built)});
  Invoke("pBuildStr", {Arg("cd"), Arg(built)});
  EXPECT_STREQ(built, "abcd");
  char block[8];
  memset(block, 'x', sizeof block);
  EXPECT_EQ(int32_t(Invoke("pClrMem", {Arg(block), Arg(4)})), 4);
  EXPECT_EQ(block[3], 0);
  EXPECT_EQ(block[4], 'x');
  EXPECT_EQ(int32_t(Invoke("pCmp", {Arg("same"), Arg("same")})), 1);
  const uint32_t before = Invoke("pTiming", {});
  Sleep(20);
  EXPECT_GE(Invoke("pTiming", {}) - before, 10u);  // milliseconds, the unsigned difference
}

TEST_F(VelloranExports, FilesAreWrittenReadAndFoundByDecoratedName) {
  char folder[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
  std::string path = std::string(folder) + "vl-exports-" + std::to_string(GetCurrentProcessId()) + ".dat";
  DeleteFileA(path.c_str());
  EXPECT_EQ(int32_t(Invoke("pFileSize", {Arg(path.c_str())})), -1);
  const char record[] = "0123456789";
  EXPECT_EQ(int32_t(Invoke("pFileIO", {Arg(1), Arg(path.c_str()), Arg(1), Arg(record), Arg(10)})), 10);
  EXPECT_EQ(int32_t(Invoke("pFileIO", {Arg(1), Arg(path.c_str()), Arg(3), Arg("ab"), Arg(2)})), 2);
  EXPECT_EQ(int32_t(Invoke("pFileSize", {Arg(path.c_str())})), 10);
  char back[16] = {};
  EXPECT_EQ(int32_t(Invoke("pFileIO", {Arg(-1), Arg(path.c_str()), Arg(1), Arg(back), Arg(16)})), 10);
  EXPECT_STREQ(back, "01ab456789");
  char found[260] = {};
  std::string name = path.substr(path.find_last_of('\\') + 1);
  EXPECT_EQ(int32_t(Invoke("pFileFind", {Arg(path.c_str()), Arg(found), Arg(1)})), 1);
  EXPECT_STREQ(found, name.c_str());
  EXPECT_EQ(int32_t(Invoke("pFileDel", {Arg(path.c_str())})), 1);
  EXPECT_EQ(int32_t(Invoke("pFileDel", {Arg(path.c_str())})), 0);
  char drive[8] = {};
  EXPECT_EQ(int32_t(Invoke("pDrive", {Arg(drive), Arg(8)})), 1);
  EXPECT_EQ(drive[1], ':');
  EXPECT_EQ(drive[2], '\\');
  char ask[] = "DRV?";
  EXPECT_EQ(int32_t(Invoke("pDriveType", {Arg(ask), Arg(drive)})), 3);  // DRIVE_FIXED
}

}  // namespace
