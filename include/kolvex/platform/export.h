// Symbol visibility for libkolvex. The library is built with hidden visibility;
// only what carries KOLVEX_API is part of its binary interface.
#pragma once

#if defined(_WIN32)
#if defined(KOLVEX_BUILDING_LIBRARY)
#define KOLVEX_API __declspec(dllexport)
#else
#define KOLVEX_API __declspec(dllimport)
#endif
#else
#define KOLVEX_API __attribute__((visibility("default")))
#endif
