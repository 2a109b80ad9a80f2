// SHA-256 of a byte string, as lower-case hex: the expected files give the
// digests of whole signals, so a test can compare every sample at once.
#ifndef SIGTROVE_TESTS_SHA256_H
#define SIGTROVE_TESTS_SHA256_H

#include <cstdint>
#include <string>
#include <vector>

namespace sigtrove::testing {

std::string sha256_hex(const std::string &bytes);

// The digest of values written as 32-bit little-endian integers.
std::string sha256_of_int32(const std::vector<std::int32_t> &values);

}  // namespace sigtrove::testing

#endif
