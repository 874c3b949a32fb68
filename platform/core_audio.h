// The one place that decides where the Windows audio, COM and console names
// come from: the system headers on Windows, our portable declarations
// elsewhere (implemented by the platform library linked in).
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <functiondiscoverykeys_devpkey.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>
#include <io.h>
#include <fcntl.h>
#include <cstdio>
#else
#include "platform/portable/platform_functions.h"
#endif
