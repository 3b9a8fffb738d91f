#pragma once
// The HTTP API's token: made by `http-token`, shown once, and kept only as its SHA-256 in
// the state folder ($XDG_STATE_HOME/sonvex, else ~/.local/state/sonvex), readable by its
// owner alone. Private to the library.

#include <string>

namespace httpauth {

// The file the hash is kept in; empty when there is no home to keep it in.
std::string TokenFile();
// Lower-case hex of the SHA-256 of `text`.
std::string Sha256Hex(const std::string& text);
// Makes a new random token and stores its hash in place of any earlier one; false with
// `problem` when it cannot be stored.
bool NewToken(std::string& token, std::string& problem);
// The stored hash; false when none is stored.
bool StoredHash(std::string& hash);
// Whether `token` hashes to `hash`, compared in constant time.
bool Matches(const std::string& token, const std::string& hash);

}  // namespace httpauth
