// The targets that drive a mail session share their start: each input runs
// in the scratch folder that EnterScratch makes once per process.
#include "fuzz/mail_session.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterScratch();
  return 0;
}
