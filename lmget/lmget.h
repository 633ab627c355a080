#pragma once

/// liblmget.so: the settings cipher as a program loads it by name at run time.
///
/// Both functions take NUL-terminated byte strings (text in the ANSI code page); a null pointer
/// counts as the empty text. Neither ever writes to `strkey`. No C++ exception leaves them.
/// The stored form of a value is described in lmget_cipher.h.

#if defined(LMGET_BUILDING)
#define LMGET_EXPORT __attribute__((visibility("default")))
#else
#define LMGET_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/// Decrypts `b`, a value as stored in qorv.ini, with the key text `strkey`, and returns its clear
/// bytes NUL-terminated. The buffer belongs to the library and to the calling thread; it stays
/// valid until the next call of lm_j_m on the same thread. A value that does not decrypt
/// (empty, garbage, truncated, altered, stored with another key) gives the empty text. `b` is not
/// written to. Never returns a null pointer.
LMGET_EXPORT char* lm_j_m(char* strkey, char* b);

/// Encrypts in place. The clear text is `b` up to its NUL without trailing blanks: a caller makes
/// room for the result by padding the text with blanks, e.g. to 1024 characters. When the stored
/// form (see lm_j_m) fits into strlen(b) bytes it is written to the start of `b` followed by a
/// NUL; otherwise `b` is left unchanged. A stored value takes about 4/3 of the clear length plus
/// 64 bytes.
LMGET_EXPORT void lmdes(char* strkey, char* b);

#ifdef __cplusplus
}
#endif
