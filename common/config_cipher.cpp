#include "config_cipher.h"

#include <cstring>

#include "handles.h"

namespace {
// Only its first 16 bytes are the key; the rest has never been used.
constexpr char config_key_string[] = "Rw8TqLm2VbN5xZc7KpD4sHf9JgY3eA";
static_assert(sizeof config_key_string - 1 >= CIPHER_BLOCK_BYTES);

bool nt_success(NTSTATUS status) {
  return status >= 0;
}
}  // namespace

bool config_cipher(const uint8_t iv[CIPHER_BLOCK_BYTES], const uint8_t* in, uint8_t* out, size_t size,
                   cipher_direction direction) {
  bcrypt_algorithm aes;
  if (!nt_success(BCryptOpenAlgorithmProvider(aes.put(), BCRYPT_AES_ALGORITHM, nullptr, 0))) return false;
  // The property value is passed with its terminator.
  if (!nt_success(BCryptSetProperty(aes.get(), BCRYPT_CHAINING_MODE,
                                    reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                                    sizeof BCRYPT_CHAIN_MODE_ECB, 0)))
    return false;
  bcrypt_key key;
  if (!nt_success(BCryptGenerateSymmetricKey(aes.get(), key.put(), nullptr, 0,
                                             reinterpret_cast<PUCHAR>(const_cast<char*>(config_key_string)),
                                             CIPHER_BLOCK_BYTES, 0)))
    return false;

  uint8_t feedback[CIPHER_BLOCK_BYTES];
  std::memcpy(feedback, iv, CIPHER_BLOCK_BYTES);
  for (size_t offset = 0; offset < size; offset += CIPHER_BLOCK_BYTES) {
    uint8_t keystream[CIPHER_BLOCK_BYTES];
    ULONG produced = 0;
    if (!nt_success(BCryptEncrypt(key.get(), feedback, CIPHER_BLOCK_BYTES, nullptr, nullptr, 0, keystream,
                                  CIPHER_BLOCK_BYTES, &produced, 0)) ||
        produced != CIPHER_BLOCK_BYTES)
      return false;
    size_t segment = size - offset < CIPHER_BLOCK_BYTES ? size - offset : CIPHER_BLOCK_BYTES;
    uint8_t ciphertext[CIPHER_BLOCK_BYTES];
    for (size_t i = 0; i < segment; ++i) {
      uint8_t result = in[offset + i] ^ keystream[i];
      ciphertext[i] = direction == cipher_direction::encrypt ? result : in[offset + i];
      out[offset + i] = result;
    }
    if (segment == CIPHER_BLOCK_BYTES) std::memcpy(feedback, ciphertext, CIPHER_BLOCK_BYTES);
  }
  return true;
}

bool random_iv(uint8_t iv[CIPHER_BLOCK_BYTES]) {
  bcrypt_algorithm rng;
  if (!nt_success(BCryptOpenAlgorithmProvider(rng.put(), BCRYPT_RNG_ALGORITHM, nullptr, 0))) return false;
  return nt_success(BCryptGenRandom(rng.get(), iv, CIPHER_BLOCK_BYTES, 0));
}
