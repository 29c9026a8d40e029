// Signed updates: an installation that carries the maker's public key ("updates.pub"
// beside the program) takes a downloaded file only with a detached signature R + ".sig"
// that the key verifies. Without the key file nothing changes.
//
// The key file is the maker's RSA public key as a PEM "PUBLIC KEY" block (what
// "openssl pkey -pubout" writes: a SubjectPublicKeyInfo), or several such blocks while the
// maker changes keys (a signature by any of them is taken); a signature is the PKCS #1 v1.5
// RSA signature over the file's SHA-256 ("openssl dgst -sha256 -sign"), most significant
// byte first. Everything goes through CryptoAPI's enhanced RSA and AES provider.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

constexpr char kUpdateKeyFileName[] = "updates.pub";
// A signature of a 16384-bit key is 2048 bytes; anything longer is no signature of ours.
constexpr std::size_t kMaxSignatureBytes = 2048;

// "updates.pub" in the folder of the running program.
std::string UpdateKeyBesideProgram();

class UpdateKey {
public:
    // Empty when the file holds no RSA public key the provider can import, or a block that
    // is not one.
    static std::optional<UpdateKey> Load(const std::string& path);
    // Same, from the file's bytes.
    static std::optional<UpdateKey> FromPem(const std::string& pem);

    // True when `signature` is the signature of one of the keys over the whole file at `path`.
    bool Verifies(const std::string& path, const std::vector<std::uint8_t>& signature) const;

private:
    struct Handles;
    std::shared_ptr<Handles> handles_;
};

// True when a key file is there at all: then every download must be signed, and a key
// file that cannot be read fails the run rather than letting files through unchecked.
bool UpdateKeyPresent(const std::string& path);

}  // namespace tolvane
