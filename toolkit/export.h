// toolkit/export.h -- how toolkit operations are exported.
//
// Every toolkit operation has C linkage under its own name and is visible from
// the built shared library; everything else stays inside (hidden visibility
// on ELF; on Windows only what is marked dllexport leaves a DLL).
//
// The exported operations (VL_OP) use the classic platform's convention on
// 32-bit Windows: stdcall, the callee removing its arguments, so that other
// programs find them as "_pAdd@8" (the name, "@" and the argument bytes; the
// list is generated from these headers, see cmake/ExportList.cmake). ELF has
// no stdcall decoration: on Linux the plain name is the only exported form
// and VL_CALL is the platform's ordinary convention.
#pragma once
#ifdef __cplusplus
#define VL_EXTERN_C extern "C"
#else
#define VL_EXTERN_C
#endif
// VL_VISIBLE: leaves its library (dllexport; default visibility on ELF).
#if defined(_WIN32)
#define VL_VISIBLE __declspec(dllexport)
#define VL_CALL __attribute__((stdcall))
#else
#define VL_VISIBLE __attribute__((visibility("default")))
#define VL_CALL
#endif
#define VL_EXPORT VL_EXTERN_C VL_VISIBLE
// One of the exported toolkit operations (the classic "p" names).
#define VL_OP VL_EXPORT VL_CALL
