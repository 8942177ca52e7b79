// Symbol visibility of the exported API.
#pragma once

#if defined(_WIN32)
#  if defined(OMBRIX_BUILDING)
#    define OMBRIX_API __declspec(dllexport)
#  elif defined(OMBRIX_STATIC)
#    define OMBRIX_API
#  else
#    define OMBRIX_API __declspec(dllimport)
#  endif
#else
#  define OMBRIX_API __attribute__((visibility("default")))
#endif
