// Marks what the library exports. A shared build hides everything else, so its
// ABI is exactly the declarations that carry this mark.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define TPLFORGE_API __attribute__((visibility("default")))
#else
#define TPLFORGE_API
#endif
