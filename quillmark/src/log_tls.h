#pragma once

// The logger's thread-local variables are read on every line. The initial-exec model reads them
// straight off the thread pointer instead of calling __tls_get_addr; it takes a few bytes of the
// static TLS room, which glibc keeps free for libraries loaded at run time too.
#if defined(__GNUC__) && defined(__ELF__)
#define QUILLMARK_FAST_TLS __attribute__((tls_model("initial-exec")))
#else
#define QUILLMARK_FAST_TLS
#endif
