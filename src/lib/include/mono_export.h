#ifndef MONO_EXPORT_H
#define MONO_EXPORT_H

/* Everything is built with hidden visibility; only the entry points marked here are exported
   from the shared libraries. */
#define MONO_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define MONO_EXTERN_C extern "C"
#else
#define MONO_EXTERN_C
#endif

#define MONO_API MONO_EXTERN_C MONO_EXPORT

#endif
