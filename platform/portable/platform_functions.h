// The free functions of COM, kernel32 and the C runtime that audiotap's logic
// calls. Off Windows they are defined by the platform library linked in
// (platform/sim or platform/pulse), except the memory, variant and text
// helpers, which platform/portable defines once for both.
#pragma once

#include <cstdio>

#include "platform/portable/com_interfaces.h"

// COM
HRESULT CoInitializeEx(void* reserved, DWORD concurrencyModel);
HRESULT CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD classContext, REFIID iid, void** object);
void* CoTaskMemAlloc(std::size_t bytes);
void CoTaskMemFree(void* memory);
HRESULT PropVariantClear(PROPVARIANT* value);

// Text
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wideText, int wideLength, LPSTR multiByteText,
                        int multiByteCapacity, LPCCH defaultChar, LPBOOL usedDefaultChar);

// Console and timing
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
void Sleep(DWORD milliseconds);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);

// C runtime
int _setmode(int fileDescriptor, int mode);
int _fileno(std::FILE* stream);
