#pragma once

#include <QByteArray>

// The cipher of the sign-on parameter, shared by the agent (which encrypts) and the sign-on
// server (which decrypts): AES-128-CBC with PKCS#7 padding, the built-in 16-byte key
// "7qwirl.zenbo.kat" serving as key and as IV. Every crypto library result is checked; any
// failure gives -1 or false, never a partial result.
namespace tnw_param_cipher {

constexpr int block_size = 16;

// Ciphertext bytes for length plaintext bytes: rounded up to whole blocks, with a whole block
// more when length already is one. -1 when negative or beyond an int.
int ciphertext_size(int length);

// Encrypts length bytes of input into output, which holds capacity bytes. The number of bytes
// written, or -1, writing nothing, when they would not fit.
int encrypt(const unsigned char* input, int length, unsigned char* output, int capacity);

// All bytes of plain, NUL bytes included.
bool encrypt(const QByteArray& plain, QByteArray& cipher);
// False for a length that is not a whole, positive number of blocks and for a ciphertext
// whose padding is wrong (another key, a damaged text).
bool decrypt(const QByteArray& cipher, QByteArray& plain);

// The crypto library's steps, as the one test seam below sees them.
enum class step
{
    context,      // a cipher context made: 1, or 0 without one
    cipher,       // the cipher description found: 1 or 0
    init,         // the initialisation's result
    update,       // the update's result
    final,        // the final step's result
    final_length, // the number of bytes the final step wrote
    release,      // a context freed: 1
};
// For tests, to make one step fail or miscount: sees every step's result and returns the one
// the cipher goes on with. nullptr, the default, keeps the library's results.
using step_filter = int (*)(step at, int result);
void set_step_filter(step_filter filter);

} // namespace tnw_param_cipher
