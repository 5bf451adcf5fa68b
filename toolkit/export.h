// toolkit/export.h -- how toolkit operations are exported.
//
// Every toolkit operation has C linkage under its own name and is visible from
// the built shared library (the library is compiled with hidden visibility, so
// only what is marked here is exported). ELF has no stdcall decoration, so on
// Linux the plain name is the only exported form.
#pragma once
#ifdef __cplusplus
#define VL_EXTERN_C extern "C"
#else
#define VL_EXTERN_C
#endif
#define VL_EXPORT VL_EXTERN_C __attribute__((visibility("default")))
