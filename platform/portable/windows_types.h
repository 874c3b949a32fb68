// The Win32 scalar types, records and constants that audiotap's logic uses,
// declared for builds that have no Windows headers. Layouts match Windows so
// that a platform library can hand the logic the same bytes Windows would.
#pragma once

#include <cstdint>
#include <cstring>

#define WINAPI
#define STDMETHODCALLTYPE

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using UINT32 = std::uint32_t;
using UINT64 = std::uint64_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using LONGLONG = std::int64_t;
using BOOL = int;
using LPBOOL = BOOL*;
using HRESULT = std::int32_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPCWCH = const WCHAR*;
using LPSTR = char*;
using LPCCH = const char*;
using LPVOID = void*;
using HANDLE = void*;
using VARTYPE = std::uint16_t;
using REFERENCE_TIME = std::int64_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT AUDCLNT_E_NOT_INITIALIZED = static_cast<HRESULT>(0x88890001u);
constexpr HRESULT AUDCLNT_E_ALREADY_INITIALIZED = static_cast<HRESULT>(0x88890002u);
constexpr HRESULT AUDCLNT_E_WRONG_ENDPOINT_TYPE = static_cast<HRESULT>(0x88890003u);
constexpr HRESULT AUDCLNT_E_DEVICE_INVALIDATED = static_cast<HRESULT>(0x88890004u);
constexpr HRESULT AUDCLNT_E_NOT_STOPPED = static_cast<HRESULT>(0x88890005u);
constexpr HRESULT AUDCLNT_E_UNSUPPORTED_FORMAT = static_cast<HRESULT>(0x88890008u);
constexpr HRESULT AUDCLNT_E_OUT_OF_ORDER = static_cast<HRESULT>(0x88890007u);
constexpr HRESULT AUDCLNT_E_INVALID_SIZE = static_cast<HRESULT>(0x88890009u);
constexpr HRESULT AUDCLNT_E_SERVICE_NOT_RUNNING = static_cast<HRESULT>(0x88890010u);
constexpr HRESULT AUDCLNT_S_BUFFER_EMPTY = static_cast<HRESULT>(0x08890001u);
constexpr HRESULT HRESULT_ERROR_NOT_FOUND = static_cast<HRESULT>(0x80070490u);  // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
constexpr HRESULT HRESULT_ERROR_TIMEOUT = static_cast<HRESULT>(0x800705B4u);    // HRESULT_FROM_WIN32(ERROR_TIMEOUT)
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD CLSCTX_ALL = 0x17;
constexpr DWORD STGM_READ = 0x0;

constexpr DWORD DEVICE_STATE_ACTIVE = 0x1;
constexpr DWORD DEVICE_STATE_DISABLED = 0x2;
constexpr DWORD DEVICE_STATE_NOTPRESENT = 0x4;
constexpr DWORD DEVICE_STATE_UNPLUGGED = 0x8;
constexpr DWORD DEVICE_STATEMASK_ALL = 0xF;

enum EDataFlow { eRender = 0, eCapture = 1, eAll = 2 };
enum ERole { eConsole = 0, eMultimedia = 1, eCommunications = 2 };
enum AUDCLNT_SHAREMODE { AUDCLNT_SHAREMODE_SHARED = 0, AUDCLNT_SHAREMODE_EXCLUSIVE = 1 };

constexpr DWORD AUDCLNT_STREAMFLAGS_CROSSPROCESS = 0x00010000;
constexpr DWORD AUDCLNT_STREAMFLAGS_LOOPBACK = 0x00020000;
constexpr DWORD AUDCLNT_STREAMFLAGS_EVENTCALLBACK = 0x00040000;
constexpr DWORD AUDCLNT_STREAMFLAGS_NOPERSIST = 0x00080000;
constexpr DWORD AUDCLNT_STREAMFLAGS_RATEADJUST = 0x00100000;
constexpr DWORD AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY = 0x08000000;
constexpr DWORD AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM = 0x80000000;
constexpr DWORD AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY = 0x1;
constexpr DWORD AUDCLNT_BUFFERFLAGS_SILENT = 0x2;
constexpr DWORD AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR = 0x4;

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_LPWSTR = 31;

constexpr UINT CP_UTF8 = 65001;

constexpr DWORD CTRL_C_EVENT = 0;
constexpr DWORD CTRL_BREAK_EVENT = 1;

constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

constexpr int _O_BINARY = 0x8000;
constexpr int _O_TEXT = 0x4000;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;
using LPCGUID = const GUID*;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

struct PROPERTYKEY {
  GUID fmtid;
  DWORD pid;
};
using REFPROPERTYKEY = const PROPERTYKEY&;

struct PROPVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LPWSTR pwszVal;
    std::int64_t hVal;
    std::uint32_t ulVal;
  };
};
using REFPROPVARIANT = const PROPVARIANT&;

inline void PropVariantInit(PROPVARIANT* value) { std::memset(value, 0, sizeof(PROPVARIANT)); }

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};

// Wave formats are byte-packed on Windows; keep the same layout.
#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};

struct WAVEFORMATEXTENSIBLE {
  WAVEFORMATEX Format;
  union {
    WORD wValidBitsPerSample;
    WORD wSamplesPerBlock;
    WORD wReserved;
  } Samples;
  DWORD dwChannelMask;
  GUID SubFormat;
};
#pragma pack(pop)

static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX must match the Windows layout");
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40, "WAVEFORMATEXTENSIBLE must match the Windows layout");

using PHANDLER_ROUTINE = BOOL(WINAPI*)(DWORD controlType);
