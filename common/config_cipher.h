// AES-128-CFB (128-bit segments, final partial segment truncated) under the
// key built into both programs, through CNG.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t CIPHER_BLOCK_BYTES = 16;

enum class cipher_direction { encrypt, decrypt };

// Transforms size bytes from in to out (which may be the same buffer) with
// the feedback register starting at iv. False when CNG refuses a step.
[[nodiscard]] bool config_cipher(const uint8_t iv[CIPHER_BLOCK_BYTES], const uint8_t* in, uint8_t* out,
                                 size_t size, cipher_direction direction);

// 16 bytes from the system's cryptographic generator; false when it has none.
[[nodiscard]] bool random_iv(uint8_t iv[CIPHER_BLOCK_BYTES]);
